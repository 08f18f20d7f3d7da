/* SPDX-License-Identifier: MIT */
/**
 * @file kestrel.h
 * @brief libkestrel: access to the USB HID card reader, the holder's
 * social-security card, the PSAMs and the reader's side modules.
 *
 * Every function in this header is exported under its plain C name.
 * Results: 0 or a positive value on success, a negative error code on
 * failure (the codes and their texts: @ref kestrel_errors); the exchange
 * functions of the lowest layer return status words instead, as noted.
 * Text outputs go into buffers that the caller supplies, each of the size
 * its KESTREL_..._SIZE constant names; Chinese texts are GB18030 bytes
 * (quoted here in UTF-8).
 *
 * Card-level calls (layers 5 to 8) must come from one thread at a time;
 * the two reader layers may be used from a thread per open reader (see
 * there).
 */
#ifndef KESTREL_H
#define KESTREL_H

#ifdef __cplusplus
extern "C" {
#endif

/* ====================================================================== */
/**
 * @defgroup kestrel_link Layer 1a: USB HID link
 * @brief Finding and opening the reader on the USB bus and exchanging raw
 * messages with one of its slots.
 *
 * A device handle is the address of the record that CT_open() allocates,
 * carried as a long; 0 means no device.  One exchange sends a message to
 * the slot named by the handle's NAD (ICC_set_NAD()) and returns the
 * status word SW1*256+SW2 that ends the response, or 0x6FF0 when the link
 * failed.  A message travels in 64-byte HID reports: NAD, sequence byte
 * (0x20 while more reports follow, 0x40 toggling, the report index), payload
 * length, up to 61 payload bytes.  Each report of a response must arrive
 * within the response time-out (60 s), and the whole response within one
 * more after its first report.
 *
 * Response buffers passed to ICC_tsi_api() and Hid_ReadCRW() must hold
 * #KESTREL_MAX_RESPONSE bytes; a longer response is refused with 0x6FF0
 * and nothing is written past that size.  The response length (out) is
 * one int, written only for a response received.
 *
 * Separate device handles share nothing but libusb: each may be used by a
 * thread of its own (one thread per handle at a time).  With several
 * readers on the bus, CT_open() opens the first one that no other handle or
 * program holds.
 * @{
 */

/** Size of a response buffer of the link: the longest response (data and
 *  SW1 SW2) that ICC_tsi_api(), Hid_ReadCRW() and ICC_Reader_Application()
 *  accept. */
#define KESTREL_MAX_RESPONSE 4096

struct libusb_device;
struct libusb_device_handle;
struct libusb_context;

/**
 * @brief Opens the first free reader of USB vendor 163C.
 *
 * Initialises a libusb context, finds the first device of the vendor with
 * an interface of one interrupt IN and one interrupt OUT endpoint of 64
 * bytes that can be opened and claimed (detaching a kernel driver), and
 * allocates the device record.  Prints "libusb_init Error<n>", "Get
 * Device_list Error" or "Cannot Claim Interface" to standard output on
 * those failures.
 * @sends nothing.
 * @param[in] name  not used (any value, NULL too).
 * @param[in] a     not used.
 * @param[in] b     not used.
 * @return the device handle, or 0 when no reader could be opened.
 */
long CT_open(const char *name, int a, int b);

/**
 * @brief Releases the reader's interface, closes it and frees the record.
 * @sends nothing.
 * @param[in] device  a handle from CT_open(); 0 or an unknown value is
 *                    ignored.
 * @return 0.
 */
int  CT_close(long device);

/**
 * @brief Sets the node address (NAD) that the next messages carry in their
 * first byte, and so the slot they reach.
 * @sends nothing.
 * @param[in] device  a handle from CT_open(); an unknown one is ignored.
 * @param[in] nad     0x00 the reader, 0x12 contact card, 0x15 contactless
 *                    card, 0x16 to 0x19 PSAM 1 to 4, 0x1A stripe, 0x1B
 *                    identity-card module, 0x1C scanner.
 */
void ICC_set_NAD(long device, unsigned char nad);

/**
 * @brief One exchange: sends a message and reads its response.
 * @sends cmd in HID reports to the slot of the handle's NAD.
 * @param[in]  device  a handle from CT_open().
 * @param[in]  cmdLen  length of cmd in bytes (at most 256 reports' worth).
 * @param[in]  cmd     the message.
 * @param[out] rspLen  one int: the response length without SW1 SW2,
 *                     written only for a response received.
 * @param[out] rsp     #KESTREL_MAX_RESPONSE bytes: the response data
 *                     followed by SW1 SW2.
 * @return the status word SW1*256+SW2 that ends the response, or 0x6FF0
 *         when the handle is unknown, the message could not be sent, no
 *         response came in time or it did not fit rsp.
 */
int  ICC_tsi_api(long device, int cmdLen, unsigned char *cmd, int *rspLen, unsigned char *rsp);

/**
 * @brief Sends one message without reading its response.
 *
 * First drains a stale report (5 ms read), then sends the message in
 * 64-byte reports.
 * @sends msg in HID reports to the slot of the handle's NAD.
 * @param[in] device  a handle from CT_open().
 * @param[in] msg     the message (may be NULL when len is 0).
 * @param[in] len     its length in bytes.
 * @return 1 when every report was sent; 0x1001 when a transfer failed,
 *         0x1002 when a report went out short, 0x6FF0 for an unknown
 *         handle or a bad argument.
 */
int  Hid_WriteCRW(long device, unsigned char *msg, int len);

/**
 * @brief Reads one response message.
 * @sends nothing.
 * @param[in]  device  a handle from CT_open().
 * @param[out] out     #KESTREL_MAX_RESPONSE bytes: response data and SW1 SW2.
 * @param[out] outLen  one int: the response length without SW1 SW2,
 *                     written only for a response received.
 * @return the status word that ends the response, or 0x6FF0 (unknown
 *         handle, time-out, a response too long or shorter than 2 bytes).
 */
int  Hid_ReadCRW(long device, unsigned char *out, int *outLen);

/**
 * @brief Finds the reader's HID interface on a USB device.
 *
 * Prints "failed to get device descriptor" when libusb cannot read it.
 * @sends nothing.
 * @param[in]  dev    the device, from libusb's device list.
 * @param[out] inEp   one byte: the interrupt IN endpoint address, written
 *                    only for a match.
 * @param[out] outEp  one byte: the interrupt OUT endpoint address, written
 *                    only for a match.
 * @return the interface number; -1 when the device is of another vendor or
 *         has no such interface; libusb's negative error code when its
 *         descriptor cannot be read.
 */
int  GetreaderEndpoint(struct libusb_device *dev, unsigned char *inEp, unsigned char *outEp);

/**
 * @brief Closes a device handle, frees a device list and ends a libusb
 * context; each argument may be NULL.
 * @sends nothing.
 * @param[in] handle  libusb device handle to close.
 * @param[in] list    device list to free (with its references).
 * @param[in] ctx     libusb context to end.
 * @return 0.
 */
int  Freelibusb(struct libusb_device_handle *handle, struct libusb_device **list,
                struct libusb_context *ctx);

/**
 * @brief Prints count bytes as lower-case hexadecimal digits and a newline
 * to standard output.
 * @sends nothing.
 * @param[in] bytes  the bytes.
 * @param[in] count  how many; 0 or less prints only the newline.
 */
void printfHex(unsigned char *bytes, int count);

/** @} */

/* ====================================================================== */
/**
 * @defgroup kestrel_reader Layer 1b: reader handle API
 * @brief Readers named by port, slots powered and APDUs passed.
 *
 * Port names "USB1".."USB9" (and "atoi"); reader handles 1650..1999, no
 * two open readers sharing one.  Readers opened under different port
 * names may be used by a thread each.
 *
 * Slots: 0x00 the reader itself, 0x01 contact card, 0x02 contactless
 * card, 0x03 (power-on only), 0x11 to 0x14 PSAM 1 to 4, 0x1A magnetic
 * stripe, 0x1B identity-card module, 0x1C QR scanner.
 *
 * Return codes common to the slot functions: -14 for a negative reader
 * handle or a slot the function does not take, -12 for a handle that is
 * not open, -11 when the reader answered FF FF.
 * @{
 */

/**
 * @brief Opens a reader and gives it a reader handle.
 *
 * "USBn" closes what was open under port n (and under "atoi") and opens
 * the first free reader; "atoi" closes every open reader first.
 * @sends nothing.
 * @param[in] port  "USB1" to "USB9", or "atoi".
 * @return the reader handle (1650 to 1999); -14 for another or a NULL
 *         port; -11 when no reader could be opened.
 */
long ICC_Reader_Open(const char *port);

/**
 * @brief Closes an open reader.
 * @sends nothing.
 * @param[in] reader  a handle from ICC_Reader_Open().
 * @return 0; -14 for a negative handle; -12 for a handle that is not open
 *         when the last reader call was an open (0 otherwise).
 */
long ICC_Reader_Close(long reader);

/** Size of the answer-to-reset buffer of ICC_Reader_PowerOn(): the answer
 *  (at most 48 bytes) and SW1 SW2. */
#define KESTREL_ATR_SIZE 50

/**
 * @brief Powers the card or PSAM in a slot and returns its answer to
 * reset.
 * @sends 00 12 00 00 00 to the slot; after a failed exchange 00 14 00 00 00
 *        (card status) or 00 16 00 00 00 (PSAM status).
 * @param[in]  reader  a handle from ICC_Reader_Open().
 * @param[in]  slot    0x01, 0x02, 0x11 to 0x14 or 0x1B (0x00 and 0x03
 *                     send nothing and return 256).
 * @param[out] atr     #KESTREL_ATR_SIZE bytes, cleared, then the answer to
 *                     reset followed by SW1 SW2; may be NULL.
 * @return the answer's length; -2 no card (or a PSAM slot that did not
 *         answer 90 00); -4 no answer, or an answer longer than
 *         #KESTREL_ATR_SIZE - 2 bytes; -1 wrong card type (FF 12); -11,
 *         -12, -14 as for every slot function.  A contact slot answering
 *         62 00 prints "dwRet==0x6200IFD_ICC_NoExist" and returns -2.
 */
long ICC_Reader_PowerOn(long reader, unsigned char slot, char *atr);

/**
 * @brief Powers a slot's card down.
 * @sends to a card slot 00 14 00 00 00 (status), then 00 13 00 00 00 when
 *        a card is there; to a PSAM slot 00 13 00 00 00; to slot 0x00
 *        nothing.
 * @param[in] reader  a handle from ICC_Reader_Open().
 * @param[in] slot    0x00, 0x01, 0x02, 0x11 to 0x14 or 0x1B.
 * @return 0; -2 no card; -11, -12, -14.
 */
long ICC_Reader_PowerOff(long reader, unsigned char slot);

/**
 * @brief Asks whether a slot holds a powered card.
 * @sends 00 14 00 00 00 to a card slot, 00 16 00 00 00 to a PSAM slot
 *        (slot 0x00: nothing).
 * @param[in] reader  a handle from ICC_Reader_Open().
 * @param[in] slot    0x00, 0x01, 0x02, 0x11 to 0x14 or 0x1B.
 * @return 0 powered card present; -2 no card; -3 card not powered; -11,
 *         -12, -14.
 */
long ICC_Reader_GetStatus(long reader, unsigned char slot);

/**
 * @brief Passes one APDU to a slot and returns the response.
 * @sends cmd to the slot; after a failed exchange the slot's status
 *        command (00 14 or 00 16) to tell why.
 * @param[in]  reader  a handle from ICC_Reader_Open().
 * @param[in]  slot    0x00, 0x01, 0x02, 0x11 to 0x14, 0x1A, 0x1B or 0x1C.
 * @param[in]  cmdLen  4 to 261 bytes (to a PSAM at most 255); a GET
 *                     CHALLENGE for 4, 8 or 16 bytes must be exactly 5.
 * @param[in]  cmd     the APDU.
 * @param[out] rsp     #KESTREL_MAX_RESPONSE bytes: the response data
 *                     followed by SW1 SW2 (the reader, not the command,
 *                     decides how much comes back).
 * @return the response length with SW1 SW2 (2 or more); -2 no card; -3
 *         card not powered; -1 wrong card type; -4 no answer; -14 for a
 *         NULL cmd or rsp or a length out of range; -11, -12.
 */
long ICC_Reader_Application(long reader, unsigned char slot, long cmdLen,
                            unsigned char *cmd, unsigned char *rsp);

/** Size of the library information that ICC_Reader_Libinfo() writes (no
 *  NUL). */
#define KESTREL_LIBINFO_SIZE 18

/**
 * @brief The reader library's identification, "VRT VRT-5-LN-Q 10 ".
 * @sends nothing.
 * @param[out] info  #KESTREL_LIBINFO_SIZE characters, without a NUL.
 * @return 0.
 */
long ICC_Reader_Libinfo(char *info);

/** Six 8-byte objects exported for hosts that look them up by name; all
 *  zero, and no function uses them. */
extern char ICC_Reader_OpenMutex[8];
/** @copydoc ICC_Reader_OpenMutex */
extern char ICC_Reader_CloseMutex[8];
/** @copydoc ICC_Reader_OpenMutex */
extern char ICC_Reader_PowerOnMutex[8];
/** @copydoc ICC_Reader_OpenMutex */
extern char ICC_Reader_PowerOffMutex[8];
/** @copydoc ICC_Reader_OpenMutex */
extern char ICC_Reader_GetStatusMutex[8];
/** @copydoc ICC_Reader_OpenMutex */
extern char ICC_Reader_ApplicationMutex[8];

/** @} */

/* ====================================================================== */
/**
 * @defgroup kestrel_peripherals Layer 1c: reader peripherals
 * @brief The reader's QR-code scanner (slot 0x1C), magnetic-stripe head
 * (slot 0x1A) and identification (slot 0x00).
 *
 * Each call opens the reader on "USB1", sends its command(s), and closes
 * the reader.  Returns 0, or a negative code with a GB18030 text
 * (NUL-terminated) in out:
 *
 * | failure | code and text |
 * |---|---|
 * | reader not opened | -11, "读卡器连接失败" (Checkmod_Auto, Checkmod_Cmd, SendScanCmd, iGetQRBase, iGetQRCode) or "读卡器连接错" (the others) |
 * | module refused: Checkmod_Auto | the status word negated as a card's (-27266 for 6A 82), "失败,不识别指令" |
 * | module refused: Checkmod_Cmd | the status word negated, "失败不识别指令" |
 * | module refused: SendScanCmd | the status word negated, "扫码失败" |
 * | module refused: iGetQRBase, iGetQRCode | -111, "扫码失败" |
 * | module refused: SetScanLedMode | -23, "失败不识别指令" |
 * | module refused: GetScanMode | -23, "读扫码模式失败" |
 * | module refused: SetMagTrip | -112, "设置磁道失败" |
 * | ReadMagInfo, by step | track setting -112 "读磁道失败"; channel -23 "磁条卡通道转换失败"; swipe -23 "磁条卡刷卡失败"; track data -23 "读磁条卡数据失败" |
 * | NULL out | -14, nothing written, nothing sent |
 *
 * The codes -111 and -112 have no text of their own in the error table.
 *
 * On success the module's answer data (its bytes, without the status
 * word) is copied to the start of out and no NUL is added: clear out
 * before the call to read it as text.  The answer is at most
 * #KESTREL_SCAN_ANSWER_SIZE - 2 bytes, so a cleared buffer of that size
 * always ends in a NUL after it.  These functions write no call-log line.
 * @{
 */

/** Size of out of every scanner and stripe function except
 *  GetScanMode(). */
#define KESTREL_SCAN_ANSWER_SIZE 4096
/** Size of out of GetScanMode(): two characters on success, or a failure
 *  text. */
#define KESTREL_SCAN_MODE_SIZE 16
/** Size of out of iGetDeviceInfo(): 20 + 1 + 12 + 1 characters and the
 *  NUL. */
#define KESTREL_DEVICE_INFO_SIZE 35

/**
 * @brief Sets the scanner to scan by itself.
 * @sends 80 17 03 00 00 to slot 0x1C.
 * @param[out] out  #KESTREL_SCAN_ANSWER_SIZE bytes: the module's answer
 *                  data, or the failure text.
 * @return 0, or a code of the table above.
 */
long Checkmod_Auto(char *out);

/**
 * @brief Sets the scanner to scan on command.
 * @sends 80 17 03 01 00 to slot 0x1C.
 * @param[out] out  #KESTREL_SCAN_ANSWER_SIZE bytes: the module's answer
 *                  data, or the failure text.
 * @return 0, or a code of the table above.
 */
long Checkmod_Cmd(char *out);

/**
 * @brief Reads the scanner's mode.
 * @sends 80 17 03 00 01 to slot 0x1C.
 * @param[out] out  #KESTREL_SCAN_MODE_SIZE bytes: the mode byte as two
 *                  upper-case hexadecimal characters ("00" automatic,
 *                  "01" on command), without a NUL; or the failure text.
 * @return 0, or a code of the table above.
 */
long GetScanMode(char *out);

/**
 * @brief Scans a code.
 * @sends B0 B0 00 08 00 to slot 0x1C.
 * @param[out] out  #KESTREL_SCAN_ANSWER_SIZE bytes: the code's bytes, or
 *                  the failure text.
 * @return 0, or a code of the table above.
 */
long SendScanCmd(char *out);

/**
 * @brief Scans a code of at most n bytes.
 * @sends B0 B0 00 n 00 to slot 0x1C, where n of 256 or more is sent as
 *        255 and a smaller n (a negative one too) as its low byte.
 * @param[in]  n    the longest code wanted.
 * @param[out] out  #KESTREL_SCAN_ANSWER_SIZE bytes: the code's bytes, or
 *                  the failure text.
 * @return 0, or a code of the table above.
 */
long iGetQRBase(int n, char *out);

/**
 * @brief Scans a code of at most n bytes, in the scanner's second mode.
 * @sends B0 B0 03 n 00 to slot 0x1C, n as for iGetQRBase().
 * @param[in]  n    the longest code wanted.
 * @param[out] out  #KESTREL_SCAN_ANSWER_SIZE bytes: the code's bytes, or
 *                  the failure text.
 * @return 0, or a code of the table above.
 */
long iGetQRCode(int n, char *out);

/**
 * @brief Sets the scanner's light mode.
 * @sends B0 17 00 23 01 m to slot 0x1C (nothing for another m).
 * @param[in]  m    0, 2 or 3; any other value returns -23 and writes
 *                  nothing.
 * @param[out] out  #KESTREL_SCAN_ANSWER_SIZE bytes: the module's answer
 *                  data, or the failure text.
 * @return 0, -23, or a code of the table above.
 */
long SetScanLedMode(int m, char *out);

/**
 * @brief Sets the tracks that the stripe head reads.
 * @sends 80 17 03 t 00 to slot 0x1A (nothing for another t).
 * @param[in]  t    2, 3 or 6; any other value writes "不支持设置磁道数据"
 *                  and returns -23.
 * @param[out] out  #KESTREL_SCAN_ANSWER_SIZE bytes: the module's answer
 *                  data, or the failure text.
 * @return 0, -23, or a code of the table above.
 */
long SetMagTrip(int t, char *out);

/**
 * @brief Reads a card swiped through the stripe head.
 *
 * Asks the head for its track setting k, switches to the stripe, waits
 * for the swipe and reads the tracks.
 * @sends to slot 0x1A 80 17 03 00 01, 00 19 06 01 00, 00 19 20 08 00 and
 *        00 B0 k 00 00.
 * @param[out] out  #KESTREL_SCAN_ANSWER_SIZE bytes: the track data in the
 *                  head's own format, or the failure text of the step
 *                  that failed.
 * @return 0, or a code of the table above.
 */
long ReadMagInfo(char *out);

/**
 * @brief The reader's identification and the PSAM's terminal number.
 *
 * Each field is empty when the reader or the PSAM does not give it (so
 * "<identification>||" without a PSAM).  On failure the error line of
 * getErrorInf is left in #logbuf.
 * @sends 00 19 01 01 14 to slot 0x00; 00 12 00 00 00 and 00 B0 96 00 06
 *        (file 16) to the PSAM slot.
 * @param[out] out  #KESTREL_DEVICE_INFO_SIZE bytes:
 *                  "<identification>|<terminal number>|", NUL-terminated;
 *                  the identification at most 20 characters up to its
 *                  first NUL byte, the terminal number 12 hexadecimal
 *                  digits.  On failure the text of -11.
 * @return 0 whenever the reader could be opened; -11 "读卡器连接错";
 *         -14 for a NULL out.
 */
long iGetDeviceInfo(char *out);

/** @} */

/* ====================================================================== */
/**
 * @defgroup kestrel_keypad Layer 1d: keypad
 * @brief One text entry on the reader's keypad, asked for by the host
 * itself.
 * @{
 */

/** Size of out of iGetPassword(): at most 99 keyed characters and the
 *  NUL. */
#define KESTREL_PASSWORD_SIZE 100

/**
 * @brief Lets the holder key a text on the reader's keypad.
 *
 * Opens the reader on "USB1", waits for the holder (at most the link's
 * response time-out) and closes the reader.  Logs no in-para or out-para
 * line; -14 and -11 leave their error line in #logbuf.
 * @sends 00 F9 08 3A 03 00 1B p to slot 0x00, p 49 (mode 1), 45 (modes 2
 *        and 4) or 65 (mode 3).
 * @param[in]  mode  1 to 4: the prompt (2 and 4 are the same).
 * @param[out] out   #KESTREL_PASSWORD_SIZE bytes: the keyed characters as
 *                   they came, NUL-terminated; or the failure text.
 * @return 0;
 * @retval -14 "（发给动态库的）命令参数错": another mode, or a NULL out
 *             (nothing written).
 * @retval -11 "读卡器连接错": no reader opened.
 * @retval -6  "读取失败": the keypad refused the entry, or answered with no
 *             text or more than #KESTREL_PASSWORD_SIZE - 1 characters.
 */
long iGetPassword(int mode, char *out);

/** @} */

/* ====================================================================== */
/**
 * @defgroup kestrel_errors Layer 2: error codes and call log
 * @brief The codes that the card-level calls return, with the texts they
 * write, and the line that each call leaves in #logbuf.
 *
 * A card's status word SW1 SW2 that is not 90 00 becomes the code
 * -(SW1*256+SW2), except 63 Cx (external authentication failed: -25536 for
 * two or more tries left, -25537 for one, -25538 for none); 00 00 counts
 * as 6F 00.  A code without a row below has the text "未知错误".
 *
 * | code | text |
 * |---|---|
 * | -1 | 卡类型不对 |
 * | -2 | 无卡 |
 * | -3 | 有卡未上电 |
 * | -4 | 卡无应答 |
 * | -5 | 加载动态库错 |
 * | -11 | 读卡器连接错 |
 * | -12 | 未建立连接 |
 * | -13 | （动态库）不支持该命令 |
 * | -14 | （发给动态库的）命令参数错 |
 * | -15 | 信息校验和出错 |
 * | -20 | 卡识别码或规范版本格式错 |
 * | -21 | 内部认证失败（用户卡不合法） |
 * | -22 | 传入数据与卡内不符 |
 * | -23 | 传入数据不合法 |
 * | -24 | 密钥权限不够 |
 * | -25 | 此卡文件结构中无传入的文件名或数据项 |
 * | -31 | 用户取消密码输入 |
 * | -32 | 密码输入操作超时 |
 * | -33 | 输入密码长度错 |
 * | -34 | 两次输入密码不一致 |
 * | -35 | 初始密码不能交易 |
 * | -36 | 不能改为初始密码 |
 * | -41 | 运算数据含非法字符 |
 * | -42 | 运算数据长度错 |
 * | -51 | PIN校验失败，剩余次数N次（根据卡返回信息） |
 * | -52 | PIN锁定 |
 * | -25536 | 外部认证失败(剩余可尝试次数2次) |
 * | -25537 | 外部认证失败(剩余可尝试次数1次) |
 * | -25538 | 外部认证失败(剩余可尝试次数0次) |
 * | -26368 | Lc/Le不正确 |
 * | -26881 | 命令不接受（无效状态） |
 * | -27009 | 命令与文件结构不相符、当前文件非所需文件 |
 * | -27010 | 不满足安全条件 |
 * | -27011 | 密钥锁定（算法锁定）鉴别方法锁定 |
 * | -27012 | 引用数据无效、随机数无效 |
 * | -27013 | 不满足使用条件、应用被锁定、应用未选择、余额上溢 |
 * | -27016 | 安全报文数据项不正确、MAC不正确 |
 * | -27264 | 数据域参数不正确 |
 * | -27265 | 不支持该功能、卡中无MF、卡被锁定、应用锁定 |
 * | -27266 | 未找到文件、文件标识相重、SFI不正确 |
 * | -27267 | 未找到记录 |
 * | -27272 | 未找到引用数据、未找到密钥 |
 * | -37634 | MAC无效 |
 * | -37635 | 应用已被永久锁定、卡片锁定 |
 * | -37891 | PSAM卡不支持消费交易 |
 * | -37894 | 所需MAC（或/和TAC）不可用 |
 * | -2201 | 无PSAM卡 |
 * | -2202 | PSAM卡算法不支持 |
 * | -2203 | PSAM卡内没有RKSSSE密钥 |
 * | -2204 | 不需要加密机认证 |
 * @{
 */

/** Size of #logbuf. */
#define KESTREL_LOGBUF_SIZE 10240

/**
 * @brief The call log: the latest line that an exported card function
 * wrote, NUL-terminated.
 *
 * Every exported card function formats a line describing the call into
 * logbuf, replacing the previous one: its name and input when it starts,
 * its output when it succeeds, the error code and text when it fails.
 * Lines longer than the buffer are cut.  Never written to a file.
 */
extern char logbuf[KESTREL_LOGBUF_SIZE];

/**
 * @brief Appends a line and CR LF to the file "E:\qvlog.txt" in the current
 * directory, but only when that file already exists; never creates it.
 * @sends nothing.
 * @param[in] line  the text, NUL-terminated.
 */
void Addlog(const char *line);

/**
 * @brief The reader handle that a multi-step HSM-assisted operation keeps
 * open between its calls.
 * @sends nothing.
 * @return the handle; 0 before any such step, -11 once a card-level call
 *         has closed the reader.
 */
long getHandler(void);

/** @} */

/* ====================================================================== */
/**
 * @defgroup kestrel_datamodel Layer 4: card data model
 * @brief The directory of card data items, value conversions, interface
 * texts and the TLV search.  None of these functions talks to the reader.
 * @{
 */

/**
 * @brief One entry of the data item directory: a data item (item tables),
 * a child of a composite item (child tables) or a field of a cyclic
 * record (record table); 64 bytes, integers little-endian.
 *
 * In the composite-child tables dfName holds the parent tags, one byte
 * each, NUL-terminated.
 */
typedef struct FileTableEntry {
    char          dfName[5];      /**< DF name, such as SSSE or DF01 (or parent tags) */
    char          efName[5];      /**< EF name, EF05 to EF1A */
    unsigned char tag;            /**< item tag; 0 for a whole transparent or cyclic file */
    unsigned char reserved0;      /**< not used */
    unsigned int  length;         /**< value length, file size or record size */
    unsigned int  dataType;       /**< 1 text, 15 cn, 16 moneycn, 17 moneyb, 2 composite,
                                       0 cyclic record, anything else binary */
    unsigned int  fileType;       /**< 0 transparent, 1 fixed records, 2 TLV records, 3 cyclic */
    unsigned int  recordLength;   /**< Le of READ RECORD */
    int           occurrences;    /**< records of this tag in the file */
    unsigned int  readKeyAddr;    /**< HSM key number for reading, 0 = none */
    unsigned char readKey[3];     /**< key id, PSAM key type, PSAM key version */
    unsigned char reserved1;      /**< not used */
    unsigned int  readKeyAux;     /**< not used by any operation */
    unsigned int  readLevel;      /**< 0 free, 1 PIN, 2 ext. auth, 3 PIN or ext. auth, 4 both */
    unsigned int  writeKeyAddr;   /**< HSM key number for writing, 0 = none */
    unsigned char writeKey[3];    /**< key id, PSAM key type, PSAM key version */
    unsigned char reserved2;      /**< not used */
    unsigned int  writeKeyAux;    /**< not used by any operation */
    unsigned int  writeLevel;     /**< 0 free, 2 ext. auth, anything else: not writable */
} FileTableEntry;

/** Most entries that findAllChildByRecord() and findChildRR() hand back. */
#define KESTREL_MAX_CHILDREN 7

/**
 * @brief The first directory entry of a file.
 *
 * In all the directory look-ups, file addresses are texts whose first 8
 * characters are the DF and EF names ("DF01EF05..."), items texts of 2
 * hexadecimal digits, and cardVer 1 and 3 select their own tables, any
 * other value version 2.
 * @param[in] fileAddr  file address; NULL finds nothing.
 * @param[in] cardVer   card version.
 * @return the entry, or NULL when the file is not in the directory.
 */
const FileTableEntry *findFileDFEF(const char *fileAddr, int cardVer);

/**
 * @brief The directory entry of an item of a file (or of the whole file,
 * for a file whose entry has tag 0).
 * @param[in] fileAddr  file address.
 * @param[in] item      item tag as 2 hexadecimal digits.
 * @param[in] cardVer   card version.
 * @return the entry, or NULL.
 */
const FileTableEntry *findFile(const char *fileAddr, const char *item, int cardVer);

/**
 * @brief A file's type and record length.
 * @param[in]  fileAddr  file address.
 * @param[out] out       2 unsigned: file type, record length; written
 *                       only when found and not NULL.
 * @param[in]  cardVer   card version.
 * @return 0, or -25 when the file is not in the directory.
 */
int findFileType(const char *fileAddr, unsigned *out, int cardVer);

/**
 * @brief An item's data type and length.
 * @param[in]  fileAddr  file address.
 * @param[in]  item      item tag as 2 hexadecimal digits.
 * @param[in]  cardVer   card version.
 * @param[out] dataType  one int (see FileTableEntry::dataType), written
 *                       only when found and not NULL.
 * @param[out] length    one int, likewise.
 * @return 0, or -25 when the item is not in the directory.
 */
int findDataType(const char *fileAddr, const char *item, int cardVer, int *dataType, int *length);

/**
 * @brief The key and access level for reading a file.
 * @param[in]  fileAddr  file address.
 * @param[out] key       3 bytes: key id, PSAM key type and version;
 *                       written only when found and not NULL.
 * @param[out] level     one int (see FileTableEntry::readLevel), likewise.
 * @param[in]  cardVer   card version.
 * @return 0, or -27272 when the file is not in the directory.
 */
int findReadKey(const char *fileAddr, unsigned char *key, int *level, int cardVer);

/**
 * @brief The key and access level for writing a file.
 * @param[in]  fileAddr  file address.
 * @param[out] key       3 bytes, as for findReadKey().
 * @param[in]  cardVer   card version.
 * @param[out] level     one int (see FileTableEntry::writeLevel).
 * @return 0, or -27272 when the file is not in the directory.
 */
int findWriteKey(const char *fileAddr, unsigned char *key, int cardVer, int *level);

/**
 * @brief The HSM key number for reading a file.
 * @param[in]  fileAddr  file address.
 * @param[out] keyAddr   one unsigned, written only when found and not NULL.
 * @param[in]  cardVer   card version.
 * @return 0, or -27272 when the file is not in the directory.
 */
int findReadKeyAddr(const char *fileAddr, unsigned *keyAddr, int cardVer);

/**
 * @brief The HSM key number for writing a file.
 * @param[in]  fileAddr  file address.
 * @param[out] keyAddr   one unsigned, written only when found and not NULL.
 * @param[in]  cardVer   card version.
 * @return 0, or -27272 when the file is not in the directory.
 */
int findWriteKeyAddr(const char *fileAddr, unsigned *keyAddr, int cardVer);

/**
 * @brief The entry of one child of a composite item.
 * @param[in] childTag   the child's tag.
 * @param[in] parentTag  the composite item's tag.
 * @param[in] cardVer    card version.
 * @return the entry, or NULL.
 */
const FileTableEntry *findChildRecord(unsigned char childTag, unsigned char parentTag, int cardVer);

/**
 * @brief Every child of a composite item, in directory order.
 * @param[in]  parentTag  the composite item's tag (0 finds none).
 * @param[in]  cardVer    card version.
 * @param[out] out        #KESTREL_MAX_CHILDREN pointers; may be NULL to
 *                        count only.
 * @return how many were found (at most #KESTREL_MAX_CHILDREN).
 */
int findAllChildByRecord(unsigned char parentTag, int cardVer, const FileTableEntry **out);

/**
 * @brief The fields of a cyclic file's record.
 * @param[in]  fileAddr  file address; NULL finds none.
 * @param[out] out       #KESTREL_MAX_CHILDREN pointers; may be NULL.
 * @return how many were found (at most #KESTREL_MAX_CHILDREN).
 */
int findChildRR(const char *fileAddr, const FileTableEntry **out);

/**
 * @brief Offset of an item in a TLV record.
 * @param[in] tag  the item's tag.
 * @return its offset, or 0 for a tag without one.
 */
int findBtlvRecordOffset(unsigned char tag);

/** Size of the text that moneycnToAsc() and moneybToAsc() write. */
#define KESTREL_MONEY_TEXT_SIZE 16

/**
 * @brief Hexadecimal text to bytes.
 *
 * Reading stops at a NUL; a character that is no hexadecimal digit counts
 * as 0.
 * @param[out] dst  (n + 1) / 2 bytes.
 * @param[in]  src  the text.
 * @param[in]  n    digits to convert (an odd n takes the low nibble of the
 *                  last byte from the character after the n-th).
 * @return dst (nothing written when dst or src is NULL).
 */
char  *CHexToBin(char *dst, const char *src, unsigned n);

/**
 * @brief Bytes to upper-case hexadecimal text.
 * @param[out] dst  2 * n + 1 bytes, NUL-terminated.
 * @param[in]  src  n bytes (NULL gives an empty text).
 * @param[in]  n    byte count.
 * @return dst.
 */
char  *BinToCHex(char *dst, const char *src, int n);

/**
 * @brief Checks that a text holds only hexadecimal digits.
 * @param[in] text  NUL-terminated text.
 * @return 0 when it does (an empty text too), -1 otherwise or for NULL.
 */
int    checkHexNumber(const char *text);

/**
 * @brief A cn value (packed digits, F-padded) to text.
 * @param[out] dst  2 * n + 1 bytes: the digits without the trailing F
 *                  padding, NUL-terminated.
 * @param[in]  src  n bytes.
 * @param[in]  n    byte count (a negative one counts as 0).
 * @return the text's length.
 */
int    cnToAsc(char *dst, const char *src, int n);

/**
 * @brief Checks that a text holds only digits and ".".
 * @param[in] text  NUL-terminated text.
 * @return 0 when it does, -1 otherwise or for NULL.
 */
int    checkDigitalNumber(const char *text);

/**
 * @brief A moneycn amount (4 bytes of packed fen digits) to yuan text.
 * @param[out] dst  #KESTREL_MONEY_TEXT_SIZE bytes: "123.45", from the
 *                  digits before the first non-digit nibble; empty when
 *                  there is none.
 * @param[in]  src  4 bytes.
 * @return the text's length.
 */
int    moneycnToAsc(char *dst, char *src);

/**
 * @brief A moneyb amount (4 bytes big-endian, in fen) to yuan text.
 * @param[out] dst  #KESTREL_MONEY_TEXT_SIZE bytes: "123.45"; empty for
 *                  FF FF FF FF.
 * @param[in]  src  4 bytes.
 * @return the text's length.
 */
int    moneybToAsc(char *dst, char *src);

/**
 * @brief Yuan text to a moneyb amount: fen as 4 bytes big-endian (the low
 * 32 bits of the leading digits, two decimals kept).
 * @param[out] dst  4 bytes.
 * @param[in]  src  the amount ("12.5", "3").
 * @return 4.
 */
int    ascToMoneyb(char *dst, char *src);

/**
 * @brief Yuan text to a moneycn amount: fen as packed digits, F-padded, in
 * 4 bytes.
 * @param[out] dst  4 bytes.
 * @param[in]  src  the amount.
 * @return 4.
 */
int    ascToMoneycn(char *dst, char *src);

/**
 * @brief Checks that a text is an amount a card can store: digits with at
 * most one ".", at most 999999.99 yuan.
 * @param[in] text  the amount.
 * @return 1 for a writable amount, 0 otherwise.
 */
int    checkMoneyFormat(char *text);

/**
 * @brief Copies n bytes and adds a NUL.
 * @param[out] dst  n + 1 bytes.
 * @param[in]  src  n bytes (NULL copies nothing).
 * @param[in]  n    byte count (a negative one counts as 0).
 * @return n + 1.
 */
int    memcpyAdd0(char *dst, const char *src, int n);

/**
 * @brief Copies n bytes, adds a NUL, and measures the text.
 * @param[out] dst  n + 1 bytes.
 * @param[in]  src  n bytes.
 * @param[in]  n    byte count.
 * @return the length of the copied text up to its first NUL.
 */
int    strcpyFixLen(char *dst, const char *src, int n);

/**
 * @brief A 4-byte big-endian signed amount in fen to yuan.
 * @param[in] src  4 bytes (NULL gives 0).
 * @return the amount in yuan.
 */
double BCDTodouble(const unsigned char *src);

/**
 * @brief An amount to 4 bytes big-endian.
 *
 * Truncates value and stores 0 to 4294967295 as 4 unsigned big-endian
 * bytes (more: FF FF FF FF); negative values down to -2^31 in two's
 * complement (less: 80 00 00 00); NaN as 0.
 * @param[out] dst    4 bytes.
 * @param[in]  value  the amount.
 */
void   DoubleToBCD(unsigned char *dst, double value);

/** Size of one row of splitWithDollar() and splitWithShift6(). */
#define KESTREL_ROW_SIZE 5120

/**
 * @brief Position of the first "$" in a text.
 * @param[in] text  NUL-terminated text.
 * @return its index, or -1 when there is none or text is NULL.
 */
int findDollar(const char *text);

/**
 * @brief Counts a character in a text.
 * @param[in] text  NUL-terminated text (NULL counts 0).
 * @param[in] ch    the character (its low byte).
 * @return how often it occurs.
 */
int findcharNum(const char *text, int ch);

/**
 * @brief Splits a text at each "$" that ends a group (a "$" at the start of
 * a group is kept in it).
 * @param[in]  text     NUL-terminated text; a last piece without "$" is
 *                      not a row.
 * @param[out] rows     maxRows * #KESTREL_ROW_SIZE bytes: one
 *                      NUL-terminated row each, a longer piece cut to fit.
 * @param[in]  maxRows  rows at most.
 * @return the rows written.
 */
int splitWithDollar(const char *text, char *rows, int maxRows);

/**
 * @brief Splits a text at each "^".
 * @param[in]  text     NUL-terminated text; a last piece without "^" is
 *                      not a row.
 * @param[out] rows     maxRows * #KESTREL_ROW_SIZE bytes, as for
 *                      splitWithDollar().
 * @param[in]  maxRows  rows at most.
 * @return the rows written.
 */
int splitWithShift6(const char *text, char *rows, int maxRows);

/** Size of out of tag_decodetlv(). */
#define KESTREL_TLV_OUT_SIZE 256

/**
 * @brief Copies every top-level occurrence of a one- or two-byte tag, whole.
 *
 * Bytes 00 and FF between elements are padding; an element that runs past
 * the data ends the search.
 * @param[in]  len     length of data.
 * @param[in]  tag     the tag (a second byte when the first one's low five
 *                     bits are all set).
 * @param[in]  data    the TLV data.
 * @param[out] out     #KESTREL_TLV_OUT_SIZE bytes: the elements one after
 *                     the other; may be NULL.
 * @param[out] outLen  one byte: their total length; may be NULL.
 * @return the number of elements found.
 */
unsigned char tag_decodetlv(unsigned char len, const unsigned char *tag,
                            const unsigned char *data, unsigned char *out,
                            unsigned char *outLen);

/** @} */

/* ====================================================================== */
/**
 * @defgroup kestrel_security Layer 5: card security (PSAM services for hosts)
 * @brief Encryption and MAC by the PSAM in the reader.
 *
 * Both power the PSAM in the reader's PSAM slot, select its DF01 and
 * initialise the key of the given type byte (its top three bits are the
 * diversification level n, 1 to 3, of which the first 8 * n bytes of the
 * 24 bytes of divData are sent; divLen is not used) and version with the
 * random data.  They return 0, or the PSAM's status word itself (a
 * positive value such as 0x6A88; 0x6F00 when the exchange failed or the
 * answer was malformed), or -14 for arguments that do not fit one
 * command, -24 for a level above 3, -2202 when PSAMMAC2() cannot select the
 * PSAM application "sx3.sh." of algorithm 3.
 * @{
 */

/** Size of out of PSAMDes2(). */
#define KESTREL_PSAM_ANSWER_SIZE 256

/**
 * @brief Encrypts data with a PSAM key diversified for the card.
 * @sends to the PSAM slot: power-on, SELECT DF01, the key initialisation
 *        (BF DE) with the diversification data, then the encryption
 *        (80 FA 00 00) of data.
 * @param[in]  handle      a reader handle from ICC_Reader_Open().
 * @param[in]  keyType     PSAM key type byte (top three bits: level n).
 * @param[in]  keyVersion  PSAM key version.
 * @param[in]  divData     24 bytes of diversification data.
 * @param[in]  divLen      not used.
 * @param[in]  data        the data to encrypt.
 * @param[in]  dataLen     1 to 250 bytes.
 * @param[out] out         #KESTREL_PSAM_ANSWER_SIZE bytes: the PSAM's
 *                         answer (a longer one is refused with 0x6F00).
 * @param[out] outLen      one unsigned: its length.
 * @param[in]  randomData  random data for the key initialisation.
 * @param[in]  randomLen   its length.
 * @return 0, the PSAM's status word, -14, -24.
 */
long PSAMDes2(long handle, int keyType, int keyVersion, unsigned char *divData, int divLen,
              unsigned char *data, int dataLen, unsigned char *out, unsigned int *outLen,
              unsigned char *randomData, unsigned int randomLen);

/** The longest MAC that PSAMMAC2() accepts from the PSAM. */
#define KESTREL_MAC_MAX 16

/**
 * @brief Computes a MAC with a PSAM key diversified for the card.
 *
 * The data, after an 8-byte initial value, is padded with 80 00.. to a
 * multiple of 8.
 * @sends to the PSAM slot: power-on, SELECT DF01 (and the application of
 *        algorithm 3), the key initialisation (BF DE), then the MAC
 *        computation (80 FA 05 00) over iv and the padded data.
 * @param[in]  handle      a reader handle from ICC_Reader_Open().
 * @param[in]  keyType     PSAM key type byte (top three bits: level n).
 * @param[in]  keyVersion  PSAM key version.
 * @param[in]  divData     24 bytes of diversification data.
 * @param[in]  divLen      not used.
 * @param[in]  iv          8 bytes of initial value.
 * @param[in]  data        the data.
 * @param[in]  dataLen     at most 239 bytes.
 * @param[out] mac         the PSAM's MAC exactly as it answered, 4 to
 *                         #KESTREL_MAC_MAX bytes (an answer of fewer than
 *                         4 or more than #KESTREL_MAC_MAX bytes is refused
 *                         with 0x6F00), and nothing past it: size mac for
 *                         the MAC the PSAM gives (4 or 8 bytes for the
 *                         usual PSAM), or #KESTREL_MAC_MAX bytes when that
 *                         is not known.
 * @param[in]  randomData  random data for the key initialisation.
 * @param[in]  randomLen   its length.
 * @return 0, the PSAM's status word, -14, -24, -2202.
 */
long PSAMMAC2(long handle, int keyType, int keyVersion, unsigned char *divData, int divLen,
              unsigned char *iv, unsigned char *data, long dataLen, unsigned char *mac,
              unsigned char *randomData, unsigned int randomLen);

/** @} */

/* ====================================================================== */
/**
 * @defgroup kestrel_operations Layer 6: social-security card operations
 * @brief Reading and changing the holder's social-security card.
 *
 * Each call opens the reader on "USB1", powers the holder's card on the
 * interface that iType names (1 contact, 2 contactless, 3 contact then
 * contactless, 4 contactless then contact), selects the application
 * "sx1.sh.社会保障", does its work and closes the reader.  Returns 0 with
 * the result text in out, or a negative error code with that code's text
 * (@ref kestrel_errors) in out.  logbuf holds the call's last line.
 *
 * Codes that every call of this layer may return: -14 for an iType other
 * than 1 to 4 or a NULL out; -11 when no reader opens; -2 no card, -1 a
 * contactless memory card under iType 2, -3 or -4 from the power-on;
 * -20 for a card whose identification code or version record cannot be
 * read; a card status word translated (such as -27266 when the card lacks
 * the application).
 * @{
 */

/** Size of out of iReadCardBas(). */
#define KESTREL_BASEINFO_SIZE 205

/**
 * @brief Reads the card's basic information.
 *
 * Eleven fields, each ended by "|": issuing-region code, social security
 * number, card number, card identification code (32 hex digits), holder
 * name (GB18030), last 13 bytes of the answer to reset (26 hex digits),
 * card version text as on the card, issue date, expiry date, PSAM
 * terminal number (12 hex digits, zeros without a PSAM), reader device
 * number (up to its first NUL byte).  When the reader gives no device
 * number, the text read up to its NUL ends after the terminal number's "|"
 * (the buffer holds the 20 zero bytes of the number and its "|" after
 * that).
 * @sends to the card: power-on, SELECT of the application, READ RECORD of
 *        EF05 and EF06; to the PSAM: power-on and READ BINARY of file 16;
 *        to the reader: 00 19 01 01 14 (device number).
 * @param[in]  iType  card interface, 1 to 4.
 * @param[out] out    #KESTREL_BASEINFO_SIZE bytes: the fields, or the
 *                    error text.
 * @return 0, or a code of this layer.
 */
long iReadCardBas(int iType, char *out);

/** Size of out of the PIN operations. */
#define KESTREL_PIN_OUT_SIZE 100

/**
 * @brief Verifies the holder's PIN, typed by the holder on the reader's
 * keypad (4 to 16 digits).
 * @sends to slot 0x00 the keypad commands (00 F8, 00 F9); to the card
 *        VERIFY (00 20 00 00) with the keyed PIN.
 * @param[in]  iType  card interface, 1 to 4.
 * @param[out] out    #KESTREL_PIN_OUT_SIZE bytes: "PIN校验成功", or the
 *                    error text.
 * @return 0, or a code of this layer;
 * @retval -51 "PIN校验失败，剩余次数N次", N the tries the card has left.
 * @retval -52 the PIN is blocked.
 * @retval -32 keypad not ready, entry refused or timed out.
 * @retval -33 an entry of the wrong length.
 */
long iVerifyPIN(int iType, char *out);

/**
 * @brief Changes the holder's PIN: old PIN, new PIN, new PIN again, each
 * typed on the keypad.
 * @sends to slot 0x00 the keypad commands, three entries; to the card
 *        CHANGE PIN (80 5E 01 00) with old and new PIN.
 * @param[in]  iType  card interface, 1 to 4.
 * @param[out] out    #KESTREL_PIN_OUT_SIZE bytes: "PIN修改成功", or the
 *                    error text.
 * @return 0, or a code of this layer;
 * @retval -51 "PIN修改失败，剩余次数N次".
 * @retval -52 the PIN is blocked.
 * @retval -36 the new PIN is the initial PIN 480913.
 * @retval -34 the new PIN and its repetition differ.
 * @retval -32 keypad not ready, entry refused or timed out.
 * @retval -33 an entry of the wrong length.
 */
long iChangePIN(int iType, char *out);

/**
 * @brief Sets a new PIN without the old one (a new PIN and its repetition
 * typed on the keypad); the terminal's PSAM authenticates the reload to
 * the card.
 *
 * cardInfo names the card the call must act on: the card identification
 * code as 32 upper-case hexadecimal digits, "|", the card number, "|"; a
 * text without exactly two "|" (or a NULL one) is refused with -14 before
 * the reader is opened, and so is a field of more than
 * #KESTREL_ROW_SIZE - 1 characters.  logbuf holds the card's
 * diversification trace on success.
 * @sends to slot 0x00 the keypad commands, two entries; to the PSAM its
 *        power-on, selection, encryption of the PIN block and MAC; to the card
 *        GET CHALLENGE and 84 24 00 01 with the encrypted PIN and the MAC.
 * @param[in]  iType     card interface, 1 to 4.
 * @param[in]  cardInfo  "<identification code>|<card number>|".
 * @param[out] out       #KESTREL_PIN_OUT_SIZE bytes: an empty text, or
 *                       the error text.
 * @return 0, or a code of this layer;
 * @retval -22 the card is not the one cardInfo names.
 * @retval -34 the new PIN and its repetition differ.
 * @retval -32 keypad not ready, entry refused or timed out.
 * @retval -33 an entry of the wrong length.
 * @retval -2201 no PSAM.
 * @retval -2202 the PSAM lacks the application.
 * @retval -24 the PSAM lacks the key.
 */
long iReloadPIN(int iType, char *cardInfo, char *out);

/**
 * @brief Unblocks the holder's PIN: the card's try counter is restored;
 * the terminal's PSAM authenticates the unblock to the card.
 *
 * cardInfo as for iReloadPIN().  logbuf holds the card's diversification
 * trace on success.
 * @sends to the PSAM its power-on, selection and MAC; to the card GET
 *        CHALLENGE and 84 24 00 00 with the MAC.
 * @param[in]  iType     card interface, 1 to 4.
 * @param[in]  cardInfo  "<identification code>|<card number>|".
 * @param[out] out       #KESTREL_PIN_OUT_SIZE bytes: an empty text, or
 *                       the error text.
 * @return 0, or a code of this layer;
 * @retval -22 the card is not the one cardInfo names.
 * @retval -2201 no PSAM.
 * @retval -2202 the PSAM lacks the application.
 * @retval -24 the PSAM lacks the key.
 */
long iUnblockPIN(int iType, char *cardInfo, char *out);

/**
 * @name Data items by file address
 *
 * pFileAddr names up to 5 groups, each "<file address>|<item>|...|$" with
 * at most 4 items: the file address is the DF ("SSSE", "DF01".."DF07")
 * and the EF ("EF05"...) run together, an item is its tag in 2
 * hexadecimal digits, "<tag>:<n>" for the n-th occurrence of a composite
 * item, or the number of a record of a cyclic file ("01".."1E").  A group
 * of a transparent or cyclic file may name no item: the whole file, every
 * record (up to 30).  Groups after the fifth, and items after the fourth,
 * are not looked at.  pCardInfo names the card as for iReloadPIN().
 * @{
 */

/**
 * Size of one group's text in out of iReadCard().  A group's text is at
 * most the 8 characters of its file address and "|", then per field at
 * most 2 characters per byte of the item's length (11 for an amount; a
 * cyclic record the sum of its fields' texts and "^"s) and "|".  The
 * largest group of each card version: version 1, DF02EF07 with 30 records
 * of 85 bytes, 8 + 1 + 30 * (97 + 1) = 2949; version 2, SSSEEF08 of 4096
 * bytes, 8 + 1 + 8192 + 1 = 8202; version 3, SSSEEF08 of 8192 bytes,
 * 8 + 1 + 16384 + 1 = 16394.
 */
#define KESTREL_READCARD_GROUP_SIZE 16394
/** Size of pOutInfo of iReadCard(): 5 groups, each with its "$", and the NUL. */
#define KESTREL_READCARD_OUT_SIZE (5 * (KESTREL_READCARD_GROUP_SIZE + 1) + 1)
/** Size of pOutInfo of iWriteCard(). */
#define KESTREL_WRITECARD_OUT_SIZE 100

/**
 * @brief Reads the data items that pFileAddr names.
 *
 * Files that the PIN or the terminal's authentication may each open are
 * opened with the PIN for iAuthType 1, with the PSAM for 2 (any other
 * value: -14); files that need the PIN, or both, always ask for it.  The
 * PIN is typed on the reader's keypad, at most once per call.  A file of
 * the application (SSSE) named after a file of DF01..DF07 is read from the
 * application, which is selected again.
 *
 * pOutInfo receives per group "<file address>|", each item's text and "|"
 * (a transparent file is one field, each cyclic record one), and "$".
 * Texts: text items as stored (GB18030), digits, amounts in yuan with two
 * decimals, binary as upper-case hexadecimal; composite items and cyclic
 * records as their fields each followed by "^".  A card answering more
 * than an item holds is read up to the item's length; nothing is written
 * past #KESTREL_READCARD_OUT_SIZE on any path, and a failed read leaves
 * no partial result.  logbuf holds the out-para line after a read, the
 * error line after a failure.
 * @sends to the card SELECT of each DF and EF, READ RECORD or READ BINARY
 *        (200 bytes at a time); VERIFY with the keyed PIN (slot 0x00
 *        keypad commands) and/or GET CHALLENGE and EXTERNAL AUTHENTICATE
 *        with the PSAM's cryptogram, as the files require.
 * @param[in]  iType      card interface, 1 to 4.
 * @param[in]  iAuthType  1 the PIN, 2 the PSAM, for files either opens.
 * @param[in]  pCardInfo  "<identification code>|<card number>|".
 * @param[in]  pFileAddr  the groups, as above.
 * @param[out] pOutInfo   #KESTREL_READCARD_OUT_SIZE bytes: the groups'
 *                        texts, or the error text.
 * @return 0, or a code of this layer;
 * @retval -22 the card is not the one pCardInfo names.
 * @retval -23 a malformed file address or item.
 * @retval -25 a file or item the card's version lacks.
 * @retval -51 the PIN refused ("PIN校验失败，剩余次数N次").
 */
long iReadCard(int iType, int iAuthType, char *pCardInfo, char *pFileAddr, char *pOutInfo);

/**
 * @brief Writes the data items that pFileAddr names.
 *
 * pWriteData holds one group per group of pFileAddr, with the same file
 * address and one value per item, in the item's text form; the group of
 * a transparent file holds the file's content (hexadecimal, at most 2559
 * bytes, from offset 0), a group of a cyclic file one record per value,
 * each appended as the file's newest record in the order given.  Text
 * longer than a text item is cut to its length, digits beyond a digit
 * item's length are dropped.  Every group and value is checked before
 * anything is written.  A failure of the card after the first group
 * leaves the groups before it written.  logbuf holds the card's
 * diversification trace ("DivIndex: ...") after a write, which logs no
 * out-para line.
 * @sends to the PSAM its power-on, selection and the key diversification;
 *        to the card GET CHALLENGE, EXTERNAL AUTHENTICATE, SELECT of each
 *        file, UPDATE RECORD, APPEND RECORD or UPDATE BINARY.
 * @param[in]  iType       card interface, 1 to 4.
 * @param[in]  pCardInfo   "<identification code>|<card number>|".
 * @param[in]  pFileAddr   the groups, as above.
 * @param[in]  pWriteData  the values, one group per group of pFileAddr.
 * @param[out] pOutInfo    #KESTREL_WRITECARD_OUT_SIZE bytes: an empty
 *                         text, or the error text.
 * @return 0, or a code of this layer;
 * @retval -14 a data text of another shape than the address list, or more
 *         than one value for a transparent file.
 * @retval -22 the card is not the one pCardInfo names.
 * @retval -23 a malformed address or a value that does not convert
 *         (hexadecimal longer than its item among them).
 * @retval -25 a file or item the card's version lacks.
 * @retval -27010 an item that cannot be written (the debit records of
 *         DF04EF08).
 */
long iWriteCard(int iType, char *pCardInfo, char *pFileAddr, char *pWriteData, char *pOutInfo);

/** @} */

/**
 * @name Debit
 *
 * Debit (purchase) on the card's debit application, with the PSAM in the
 * reader computing MAC1 and checking the card's MAC2.
 * @{
 */

/** Size of pOutInfo of iDoDebit(). */
#define KESTREL_DEBIT_OUT_SIZE 100
/** Size of pOutInfo of iReadDebitRecord(): 30 records and the NUL. */
#define KESTREL_DEBIT_RECORDS_SIZE 1741
/** Size of pOutInfo of iTryPIN(). */
#define KESTREL_TRY_PIN_OUT_SIZE 100

/**
 * @brief Debits two amounts from the card, after the holder's PIN from
 * the keypad.
 *
 * pPayInfo is "amount1|amount2|YYYYMMDDhhmmss|": two amounts in yuan
 * (digits, at most one "." and two decimals, at most 42949672.95) and the
 * date and time, exactly 14 digits; a fourth field is ignored.  The card
 * is given the three amounts 0, amount1 and amount2 to debit.  On success
 * pOutInfo receives the 74 characters
 * <tt>alg|00B5|AAAAAAAABBBBBBBB|32|terminal|serial|YYYYMMDDhhmmss|TAC|</tt>:
 * alg the card's algorithm in two lower-case hexadecimal digits, A and B
 * amount1 and amount2 in fen as 8 hexadecimal digits each, terminal the
 * PSAM's terminal number (12 hexadecimal digits), serial the PSAM's
 * terminal transaction serial (8) and TAC the card's transaction
 * certificate (8), all upper case; logbuf holds
 * <tt>iDoDebit, out para: 0, &lt;text&gt;</tt>.
 *
 * A failure after the debit command was sent may come with a debited
 * card: the PSAM refused the card's MAC2 (typically -37634, "MAC无效"),
 * or the card's answer to the debit did not arrive whole (-28416 when it
 * was lost, or the negated 61xx or 6Cxx that stood in its place).  The
 * card's balance may then be lower although the call failed and wrote no
 * result text.  For such a failure logbuf holds the error line followed
 * by the line <tt>iDoDebit, debit not confirmed: serial SSSS, terminal
 * serial TTTTTTTT, TAC XXXXXXXX</tt> (TAC empty when the card's answer did
 * not arrive).  SSSS is the card's transaction serial for this debit,
 * with which the card's record of the debit begins: when
 * iReadDebitRecord() shows a record beginning SSSS^ with this terminal
 * number and date and time, the card did debit.  A failure without that
 * line left the balance unchanged.
 * @sends to slot 0x00 the keypad commands; to the card VERIFY, INITIALIZE
 *        FOR PURCHASE and DEBIT FOR PURCHASE; to the PSAM its power-on,
 *        selection, MAC1 and the check of MAC2.
 * @param[in]  iType      card interface, 1 to 4.
 * @param[in]  pCardInfo  "<identification code>|<card number>|".
 * @param[in]  pPayInfo   "amount1|amount2|YYYYMMDDhhmmss|".
 * @param[out] pOutInfo   #KESTREL_DEBIT_OUT_SIZE bytes: the result text,
 *                        or the error text.
 * @return 0, or a code of this layer;
 * @retval -14 the arguments (nothing sent to the reader).
 * @retval -22 the card is not the one pCardInfo names.
 * @retval -35 the initial PIN 480913 typed.
 * @retval -51 the PIN refused; -52 the PIN blocked; -32 and -33 the
 *         keypad entry.
 * @retval -2201 no PSAM; -2202 the PSAM lacks the application; -24 its key
 *         or region does not serve the card.
 * @retval -37889 the balance does not cover the debit (94 01).
 */
long iDoDebit(int iType, char *pCardInfo, char *pPayInfo, char *pOutInfo);

/**
 * @brief Reads the card's transaction records, newest first, after the
 * holder's PIN from the keypad.
 *
 * pOutInfo receives, from its first byte, one field per record (at most
 * 30): <tt>SSSS^TTTTTTTTTTTT^YYYYMMDDhhmmss^amount1^amount2^|</tt>, the
 * transaction serial, terminal number and date and time in hexadecimal,
 * and the two amounts in yuan ("12.50"; empty when the card holds no
 * amount there).
 * @sends to slot 0x00 the keypad commands; to the card VERIFY and READ
 *        RECORD of the transaction records.
 * @param[in]  iType     card interface, 1 to 4.
 * @param[out] pOutInfo  #KESTREL_DEBIT_RECORDS_SIZE bytes: the records, or
 *                       the error text.
 * @return 0, or a code of this layer;
 * @retval -27267 a card without records (6A 83 to the first read).
 */
long iReadDebitRecord(int iType, char *pOutInfo);

/**
 * @brief Verifies a PIN given by the host, without the keypad.
 *
 * The first 6 characters of pPIN (decimal digits; the last may be the
 * padding F) are verified as the holder's PIN.  Writes no out-para line,
 * and closes the reader state on every path, also when the arguments are
 * refused, so that a pending HSM step sequence ends.
 * @sends to the card VERIFY (00 20 00 00) with the PIN.
 * @param[in]  iType     card interface, 1 to 4.
 * @param[in]  pPIN      the PIN, 6 characters.
 * @param[out] pOutInfo  #KESTREL_TRY_PIN_OUT_SIZE bytes: an empty text, or
 *                       the error text.
 * @return 0, or a code of this layer;
 * @retval -14 a PIN of other characters, or shorter than 6.
 * @retval -51 "PIN校验失败，剩余次数N次".
 */
long iTryPIN(int iType, char *pPIN, char *pOutInfo);

/** @} */

/** @} */

/* ====================================================================== */
/**
 * @defgroup kestrel_hsm Layer 7: operations whose cryptograms come from the host's HSM
 * @brief The basic-information read, data-item read and write, PIN reload
 * and unblock, and debit, with the host's hardware security module in
 * place of the PSAM.
 *
 * Each operation runs in two or three calls.  Step 1 opens the reader on
 * "USB1", prepares the card and writes into out the text that the host
 * passes to its hardware security module; the host passes the module's
 * answer to the next step, which continues on the reader that Step 1 left
 * open.  The last step, and every step that fails, closes the reader.  No
 * other card call may come between the steps: any card-level call closes
 * the reader, and a later step then answers -11 (so does a later step
 * after a failed one).  getHandler() returns the open sequence's reader
 * handle, -11 when none is open.  A later step does not check which
 * operation's Step 1 opened the sequence.
 *
 * Texts are "|"-terminated fields.  Binary values are upper-case
 * hexadecimal digits; the module's hexadecimal answers may use either
 * case, except where a command header is compared (PIN Step 3).  The
 * algorithm field is the card's algorithm indicator as two lower-case
 * hexadecimal digits ("01", "02", "03"); a key address field names the
 * module's key in 4 upper-case hexadecimal digits.
 *
 * Challenge block (out of a Step 1 that asks for external
 * authentication): <tt>alg|key address|random part 1|random part 2|</tt>,
 * the two parts 16 digits each: the card's second and first challenge.
 * The module answers with 32 hexadecimal digits, the 16 bytes of EXTERNAL
 * AUTHENTICATE for the card's last challenge (random part 1).
 *
 * pCardInfo names the card the operation must act on, as for
 * iReloadPIN(): the card identification code in 32 upper-case hexadecimal
 * digits, "|", the card number, "|".  Another card gives -22.
 *
 * Codes that every step may return (the code's text in out): -14 for
 * iType outside 1 to 4, a pCardInfo without exactly two "|" (both before
 * the reader is opened), or a module answer of the wrong length, field
 * count, header or not hexadecimal (checked before anything is sent to the
 * card); -11 when the reader cannot be opened or no sequence is open; -22
 * another card; the card's refusal of the module's cryptogram as its
 * translated status (-25536, -25537, -25538 with 2, 1, 0 tries of the key
 * left); the PIN entry codes as for iReloadPIN().
 *
 * logbuf holds each step's in-para line, then its out-para line on
 * success (none for PIN Step 3) or the error line.
 * @{
 */

/** Size of out of every step but iReadCardBas_HSM_Step1(),
 *  iReadCardBas_HSM_Step2() and iReadCard_HSM_Step2(). */
#define KESTREL_HSM_OUT_SIZE 100
/** Size of out of iReadCardBas_HSM_Step1(): the card data for the module. */
#define KESTREL_HSM_CARD_DATA_SIZE 170
/** Size of out of iReadCard_HSM_Step2(): the longest group's text
 *  (#KESTREL_READCARD_GROUP_SIZE characters) and its NUL. */
#define KESTREL_HSM_READ_OUT_SIZE (KESTREL_READCARD_GROUP_SIZE + 1)

/**
 * @name Basic information
 * The module checks the card's internal authentication, and for a card of
 * version 3 authenticates the terminal, before the basic information is
 * read.
 * @{
 */

/**
 * @brief Prepares the card of a known version and writes the data with
 * which the module checks it.
 *
 * <tt>region|atr|alg|cardId|R2|R1|R4|R3|device|</tt>: the issuing-region
 * code (6 digits), the last 13 bytes of the answer to reset (26 digits),
 * the algorithm indicator in decimal ("%02d"), the card identification
 * code (32 digits), the two challenges (16 digits each, second first) over
 * which the card computed its internal authentication, for a card of
 * version 3 two more challenges (second first; the module's external
 * authentication answers R4) and otherwise two empty fields, and the
 * reader's device number (up to its first NUL byte).
 * @sends to the card: power-on, SELECT of the application, READ RECORD of
 *        EF05, GET CHALLENGE and INTERNAL AUTHENTICATE (00 88), for version
 *        3 two more GET CHALLENGE; to the reader: 00 19 01 01 14.
 * @param[in]  iType     card interface, 1 to 4.
 * @param[out] pOutInfo  #KESTREL_HSM_CARD_DATA_SIZE bytes: the card data,
 *                       or the error text.
 * @return 0 with the sequence open, or a code of this layer;
 * @retval -20 a card of unknown version.
 */
long iReadCardBas_HSM_Step1(int iType, char *pOutInfo);

/**
 * @brief Checks the module's answer and reads the basic information.
 *
 * pHsmData is <tt>expected|cryptogram|</tt>: 32 digits of which the first
 * 16 must be the card's internal-authentication answer, and an empty field
 * or the 32-digit external authentication with the card's key 0A.
 * @sends to the card: EXTERNAL AUTHENTICATE (00 82 00 0A) when the
 *        cryptogram is given, then the commands of iReadCardBas().
 * @param[in]  pHsmData  the module's answer.
 * @param[out] pOutInfo  #KESTREL_BASEINFO_SIZE bytes: the text of
 *                       iReadCardBas(), or the error text.
 * @return 0, or a code of this layer;
 * @retval -21 the card's internal authentication differs from the
 *         module's.
 */
long iReadCardBas_HSM_Step2(char *pHsmData, char *pOutInfo);

/** @} */

/**
 * @name Data items
 * Items of files that the terminal's authentication opens.  Step 1 takes
 * a file-address list (as iReadCard()) of which only the first group, up
 * to and with its "$", is served; the card must be of a known version.
 * It selects the file and writes the challenge block with the file's key
 * address for reading or writing (004F, for instance, reads DF01 on cards
 * of versions 2 and 3).
 * @{
 */

/**
 * @brief Selects the file of the first group and writes the challenge
 * block with the file's read key address.
 *
 * A file that needs both the terminal's authentication and the PIN has the
 * holder type the PIN on the keypad first (its retry text on a refusal).
 * @sends to the card: power-on, SELECT of the application, READ RECORD of
 *        EF05 (the identity), SELECT of the DF and EF, VERIFY after the
 *        keypad when the file needs the PIN, GET CHALLENGE twice.
 * @param[in]  iType      card interface, 1 to 4.
 * @param[in]  pCardInfo  "<identification code>|<card number>|".
 * @param[in]  pFileAddr  a file-address list; its first group counts.
 * @param[out] pOutInfo   #KESTREL_HSM_OUT_SIZE bytes: the challenge
 *                        block, or the error text.
 * @return 0 with the sequence open, or a code of this layer;
 * @retval -14 no "$", or a first group of more than 1023 characters.
 * @retval -23 a malformed address.
 * @retval -25 a file or item the card's version lacks.
 * @retval -2204 a file free to read or needing only the PIN (iReadCard()
 *         reads it).
 */
long iReadCard_HSM_Step1(int iType, char *pCardInfo, char *pFileAddr, char *pOutInfo);

/**
 * @brief Authenticates with the module's cryptogram and reads the group.
 *
 * The group's text as iReadCard() writes it, without the "$":
 * <tt>&lt;file address&gt;|</tt>, each item's text and "|".
 * @sends to the card: EXTERNAL AUTHENTICATE with the file's key, then the
 *        reads of iReadCard().
 * @param[in]  hsmAnswer  the module's cryptogram, 32 hexadecimal digits.
 * @param[out] pOutInfo   #KESTREL_HSM_READ_OUT_SIZE bytes: the group's
 *                        text, or the error text.
 * @return 0, or a code of this layer.
 */
long iReadCard_HSM_Step2(char *hsmAnswer, char *pOutInfo);

/**
 * @brief Selects the file of the first group and writes the challenge
 * block with the file's write key address.
 *
 * @sends to the card: power-on, SELECT of the application, READ RECORD of
 *        EF05 (the identity), SELECT of the DF and EF, GET CHALLENGE
 *        twice.
 * @param[in]  iType      card interface, 1 to 4.
 * @param[in]  pCardInfo  "<identification code>|<card number>|".
 * @param[in]  pFileAddr  a file-address list; its first group counts.
 * @param[out] pOutInfo   #KESTREL_HSM_OUT_SIZE bytes: the challenge
 *                        block, or the error text.
 * @return 0 with the sequence open, or a code of this layer;
 * @retval -14 no "$", or a first group of more than 1023 characters.
 * @retval -23 a malformed address.
 * @retval -25 a file or item the card's version lacks.
 * @retval -27264 a file this interface does not write (the debit records
 *         of DF04EF08), after the challenge.
 */
long iWriteCard_HSM_Step1(int iType, char *pCardInfo, char *pFileAddr, char *pOutInfo);

/**
 * @brief Authenticates with the module's cryptogram and writes the group.
 *
 * pWriteData is a write-data text of one group for the file of Step 1,
 * checked as iWriteCard() checks it before anything reaches the card; a
 * cyclic file receives one record, of the first value.  A failure of the
 * card's write after the authentication may leave the items before the
 * failing one written: the host reads the group back to know.
 * @sends to the card: EXTERNAL AUTHENTICATE with the file's key, then the
 *        writes of iWriteCard().
 * @param[in]  hsmAnswer   the module's cryptogram, 32 hexadecimal digits.
 * @param[in]  pWriteData  "<file address>|<value>|...|$".
 * @param[out] pOutInfo    #KESTREL_HSM_OUT_SIZE bytes: an empty text, or
 *                         the error text.
 * @return 0, or a code of this layer;
 * @retval -14 data for another file, no "$", more than one group, or
 *         another number of values than Step 1's group has items.
 * @retval -23 a value that does not convert.
 */
long iWriteCard_HSM_Step2(char *hsmAnswer, char *pWriteData, char *pOutInfo);

/** @} */

/**
 * @name PIN reload and unblock
 * Step 1, the same for both, writes the challenge block with key address
 * 0090.  Step 2 authenticates with the module's cryptogram and asks for a
 * secured command over a fresh challenge; Step 3 sends that command.
 * @{
 */

/**
 * @brief Prepares the card and writes the challenge block with key
 * address 0090.
 *
 * @sends to the card: power-on, SELECT of the application, READ RECORD of
 *        EF05 (the identity), GET CHALLENGE twice.
 * @param[in]  iType      card interface, 1 to 4.
 * @param[in]  pCardInfo  "<identification code>|<card number>|".
 * @param[out] pOutInfo   #KESTREL_HSM_OUT_SIZE bytes: the challenge
 *                        block, or the error text.
 * @return 0 with the sequence open, or a code of this layer.
 */
long iReloadPIN_HSM_Step1(int iType, char *pCardInfo, char *pOutInfo);

/**
 * @brief Authenticates with the module's cryptogram, takes the new PIN
 * from the keypad and asks for the reload command.
 *
 * The holder types the new PIN twice.  out receives
 * <tt>alg|0173|challenge|header|pin|</tt>: the card's fresh 8-byte
 * challenge (16 digits), the header of the command the module builds over
 * it, 8424000114 (16 encrypted bytes) for algorithms 2 and 3 and for a PIN
 * of more than 12 characters, else 842400010C (8 encrypted bytes), and the
 * new PIN as typed (an odd count padded with F).
 * @sends to the card: EXTERNAL AUTHENTICATE (00 82 00 06), GET CHALLENGE;
 *        to slot 0x00 the keypad commands.
 * @param[in]  pHsmData  the module's cryptogram, 32 hexadecimal digits.
 * @param[out] pOutInfo  #KESTREL_HSM_OUT_SIZE bytes: the request, or the
 *                       error text.
 * @return 0 with the sequence open, or a code of this layer;
 * @retval -34 the two entries differ.
 */
long iReloadPIN_HSM_Step2(char *pHsmData, char *pOutInfo);

/**
 * @brief Sends the module's reload command.
 *
 * pHsmData is the whole command in hexadecimal: 842400010C and 24 digits,
 * or 8424000114 and 40 digits (the header in upper case).
 * @sends to the card: the command.
 * @param[in]  pHsmData  the module's command.
 * @param[out] pOutInfo  #KESTREL_HSM_OUT_SIZE bytes: an empty text, or the
 *                       error text.
 * @return 0, or a code of this layer.
 */
long iReloadPIN_HSM_Step3(char *pHsmData, char *pOutInfo);

/**
 * @brief As iReloadPIN_HSM_Step1(), which it calls (its log lines carry
 * that name).
 *
 * @sends as iReloadPIN_HSM_Step1().
 * @param[in]  iType      card interface, 1 to 4.
 * @param[in]  pCardInfo  "<identification code>|<card number>|".
 * @param[out] pOutInfo   #KESTREL_HSM_OUT_SIZE bytes: the challenge
 *                        block, or the error text.
 * @return 0 with the sequence open, or a code of this layer.
 */
long iUnblockPIN_HSM_Step1(int iType, char *pCardInfo, char *pOutInfo);

/**
 * @brief Authenticates with the module's cryptogram and asks for the
 * unblock command.
 *
 * out receives <tt>alg|0173|challenge|8424000004||</tt>.
 * @sends to the card: EXTERNAL AUTHENTICATE (00 82 00 06), GET CHALLENGE.
 * @param[in]  pHsmData  the module's cryptogram, 32 hexadecimal digits.
 * @param[out] pOutInfo  #KESTREL_HSM_OUT_SIZE bytes: the request, or the
 *                       error text.
 * @return 0 with the sequence open, or a code of this layer.
 */
long iUnblockPIN_HSM_Step2(char *pHsmData, char *pOutInfo);

/**
 * @brief Sends the module's unblock command.
 *
 * pHsmData is the whole command in hexadecimal: 8424000004 and 8 digits.
 * @sends to the card: the command.
 * @param[in]  pHsmData  the module's command.
 * @param[out] pOutInfo  #KESTREL_HSM_OUT_SIZE bytes: an empty text, or the
 *                       error text.
 * @return 0, or a code of this layer.
 */
long iUnblockPIN_HSM_Step3(char *pHsmData, char *pOutInfo);

/** @} */

/**
 * @name Debit
 * The card's side of iDoDebit(), with the module computing MAC1; the card's
 * MAC2 and TAC are reported, not checked.  The PSAM only gives the terminal
 * number.
 * @{
 */

/**
 * @brief Has the holder's PIN verified, initializes the card's purse for
 * the debit and writes the debit request for the module.
 *
 * pPayInfo is as for iDoDebit().  The card is given the amounts 0,
 * amount1 and amount2.  out receives the 70 characters
 * <tt>alg|017F|random|serial|AAAAAAAABBBBBBBB|32|terminal|YYYYMMDDhhmmss|</tt>:
 * the card's pseudo-random number (8 hexadecimal digits) and transaction
 * serial (4), the two amounts in fen (8 digits each), the PSAM's terminal
 * number (12 digits; zeros when no PSAM can be prepared for the card's
 * algorithm or it has no terminal file) and the date and time as given.
 * @sends to slot 0x00 the keypad commands; to the card VERIFY, SELECT of
 *        DF04 and INITIALIZE FOR PURCHASE (B0 28); to the PSAM its
 *        power-on, selection and READ BINARY of file 0016.
 * @param[in]  iType      card interface, 1 to 4.
 * @param[in]  pCardInfo  "<identification code>|<card number>|".
 * @param[in]  pPayInfo   "amount1|amount2|YYYYMMDDhhmmss|".
 * @param[out] pOutInfo   #KESTREL_HSM_OUT_SIZE bytes: the debit request,
 *                        or the error text.
 * @return 0 with the sequence open, or a code of this layer;
 * @retval -14 the pay info (nothing sent to the reader).
 * @retval -35 the initial PIN 480913 typed; -51 the PIN refused; -52
 *         blocked.
 * @retval -37889 the balance does not cover the debit (94 01).
 */
long iDoDebit_HSM_Step1(int iType, char *pCardInfo, char *pPayInfo, char *pOutInfo);

/**
 * @brief Debits the card with the module's MAC1.
 *
 * pHsmData is <tt>terminal serial|YYYYMMDDhhmmss|MAC1|</tt>: 8, 14 and 8
 * hexadecimal digits; fields after the third are not looked at.  out
 * receives <tt>MAC2|</tt> and the result text of iDoDebit() with the
 * terminal serial as the module gave it (its letter case kept) and the
 * date and time of Step 1.
 *
 * A failure of this step may come with a debited card.  The card's
 * transaction serial of Step 1's request identifies the debit: when
 * iReadDebitRecord() shows a record beginning with that serial and "^",
 * the card debited.  When the card's answer did not arrive whole, logbuf
 * holds after the error line
 * <tt>iDoDebit_HSM_Step2, debit not confirmed: serial SSSS, terminal serial
 * TTTTTTTT, TAC </tt>.
 * @sends to the card DEBIT FOR PURCHASE (B0 2C 01 00 0F).
 * @param[in]  pHsmData  the module's answer.
 * @param[out] pOutInfo  #KESTREL_HSM_OUT_SIZE bytes: the result, or the
 *                       error text.
 * @return 0, or a code of this layer;
 * @retval -37634 the card refused MAC1 (93 02); its balance is unchanged.
 */
long iDoDebit_HSM_Step2(char *pHsmData, char *pOutInfo);

/** @} */

/** @} */

/* ====================================================================== */
/**
 * @defgroup kestrel_othercards Layer 8: identity card, bank-card number, card-type probe
 * @brief The resident identity card in the identity-card module, the
 * payment application's account number, and the card-type probe.
 *
 * The identity card is read through the reader's identity-card module
 * (slot 0x1B).  Its text buffer must hold #KESTREL_ID_OUT_SIZE bytes; it
 * receives the holder's data, or on failure a text: the one of -11 (reader
 * not opened), of -2 (no module answered its power-on: "无卡") or
 * "读身份证失败" (a module step refused, the code being the reader's status
 * translated as card status words are, -36864 when the reader passed on a
 * refusal of the module).  Texts are GB18030; sex is "男" for the code 1
 * and "女" otherwise; the ethnic group is its name, empty for an unknown
 * code.  Dates are YYYYMMDD.
 *
 * IDC_ReadIDCard, which also returns the photo, is exported under its C++
 * symbol only:
 * @code
 * long IDC_ReadIDCard(char *outInfo, char *photoHex);
 * @endcode
 * photoHex must hold #KESTREL_ID_PHOTO_HEX_SIZE bytes.
 * @{
 */

/** Size of the text buffer of iReadIdentityCard() and iReadSFZ(). */
#define KESTREL_ID_OUT_SIZE 4096
/** The largest identity-card photo, in bytes. */
#define KESTREL_ID_MAX_PHOTO 1024
/** Size of the photo buffer of IDC_ReadIDCard: the photo as hexadecimal
 *  text and the NUL. */
#define KESTREL_ID_PHOTO_HEX_SIZE (2 * KESTREL_ID_MAX_PHOTO + 1)

/**
 * @brief Reads a resident identity card.
 *
 * "|name|sex|ethnic group|date of birth|address|identity number|valid
 * from|valid to|issuing authority|" (ten "|"; trailing spaces removed;
 * name, address and authority end at their first space).  For the two
 * other kinds of card the module reads (permanent residence "I", residence
 * permit "J") the text is empty.
 * @sends to slot 0x1B its power-on (00 12 00 00 00) and the module's
 *        frames: reset, frame size, find card, select card, read text and
 *        photo; to slot 0x00 80 F2 00 01 00 at the end.
 * @param[out] pOutInfo  #KESTREL_ID_OUT_SIZE bytes: the text, or the
 *                       failure text.
 * @return 0, -11, -2, or a module step's code.
 */
long iReadIdentityCard(char *pOutInfo);

/**
 * @brief Reads any of the three kinds of identity card the module reads.
 *
 * Every field followed by "^", trailing spaces removed:
 * - resident identity card: number^name^^sex^ethnic group^date of
 *   birth^address^issuing authority^valid from and to (16 digits)^
 * - residence permit ("J"): number^name^travel-permit number^sex^date of
 *   birth^address^issuing authority^valid from and to^^
 * - permanent residence ("I"): card number^sex^name in Latin letters^
 *   nationality code^name in Chinese^valid from and to^date of birth^
 *   card version^issuing authority code^I^
 * @sends as iReadIdentityCard().
 * @param[out] pOutInfo  #KESTREL_ID_OUT_SIZE bytes: the text, or the
 *                       failure text.
 * @return 0, -11, -2, or a module step's code.
 */
long iReadSFZ(char *pOutInfo);

/** Size of out of iReadBankNo(). */
#define KESTREL_BANKNO_SIZE 100

/**
 * @brief Reads the bank-card number: the primary account number of the
 * card's payment application.
 *
 * Found through the payment system environment "1PAY.SYS.DDF01" and its
 * directory, and searched for in records 1 to 255 of the application's
 * files 0 to 11.  0 also when no record holds a number, and then out is
 * left as it was, so clear it before the call.
 * @sends to the card: power-on, SELECT "1PAY.SYS.DDF01", READ RECORD of
 *        its directory, SELECT of the application, READ RECORD of its
 *        files.
 * @param[in]  iType  card interface, 1 to 4.
 * @param[out] out    #KESTREL_BANKNO_SIZE bytes: the number as upper-case
 *                    hexadecimal digits (at most 20, a final padding F
 *                    removed), NUL-terminated; or the failure text.
 * @return 0; the table codes for the card type, the reader and the card;
 *         for the payment steps the card's status word negated (-27266 for
 *         6A 82; -36864 when a tag is missing) with the step's own text;
 *         -28416 with "读记录失败" once 12 reads of the search have gone
 *         unanswered (so the search never waits out more than 12 response
 *         time-outs).
 */
int iReadBankNo(int iType, char *out);

/**
 * @brief Probes the type of the card in the reader.
 *
 * The reader's category probe of the card in the contact slot, else the
 * card in the contactless field (which is not probed).  For a
 * social-security card (category 3) the application is selected and its
 * identification code and version read.
 * @sends 80 17 00 59 01 (category probe) to the contact slot; for a
 *        social-security card power-on, SELECT of the application and
 *        READ RECORD of EF05.
 * @param[out] cardType         6 bytes: "0003" and two NUL bytes for a
 *                              social-security card; for any other card
 *                              the two bytes 00 and the category (1, 2, 7
 *                              or 9; 0 unprobed).
 * @param[out] region           at least 7 bytes, cleared before the call:
 *                              the 6 hexadecimal digits of the
 *                              issuing-region code, without a NUL.
 * @param[out] versionOrError   100 bytes: the 4 characters of the card's
 *                              version text (such as 3.00), without a NUL;
 *                              or the failure text.
 * @return 0 for a social-security card; for any other card the length of
 *         the probe's answer (1 for the usual one-byte answer; 2 for a
 *         card in the contactless field); a negative code on failure.
 */
int iReadCardType(char *cardType, char *region, char *versionOrError);

/** @} */

#ifdef __cplusplus
}
#endif

#endif /* KESTREL_H */
