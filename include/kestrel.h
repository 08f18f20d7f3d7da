/*
 * libkestrel: access to the USB HID card reader, the holder's
 * social-security card, the PSAMs and the reader's side modules.
 *
 * Every function in this header is exported under its plain C name.
 * Results: 0 or a positive value on success, a negative error code on
 * failure (see getErrorInf for the texts); the exchange functions of the
 * lowest layer return status words instead, as noted.  Text outputs go
 * into buffers that the caller supplies; Chinese texts are GB18030 bytes.
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

/* ======================================================================
 * Layer 1a: USB HID link
 *
 * A device handle is the address of the record that CT_open allocates,
 * carried as a long; 0 means no device.  One exchange sends a message to
 * the slot named by the handle's NAD and returns the status word SW1*256+SW2
 * that ends the response, or 0x6FF0 when the link failed.
 *
 * Response buffers passed to ICC_tsi_api and Hid_ReadCRW must hold
 * KESTREL_MAX_RESPONSE bytes; a longer response is refused with 0x6FF0
 * and nothing is written past that size.  The response length (out) is
 * one int, written only for a response received.
 *
 * Separate device handles share nothing but libusb: each may be used by a
 * thread of its own (one thread per handle at a time).  With several
 * readers on the bus, CT_open opens the first one that no other handle or
 * program holds.
 * ====================================================================== */
#define KESTREL_MAX_RESPONSE 4096

struct libusb_device;
struct libusb_device_handle;
struct libusb_context;

long CT_open(const char *name, int a, int b);
int  CT_close(long device);
void ICC_set_NAD(long device, unsigned char nad);
int  ICC_tsi_api(long device, int cmdLen, unsigned char *cmd, int *rspLen, unsigned char *rsp);
int  Hid_WriteCRW(long device, unsigned char *msg, int len);
int  Hid_ReadCRW(long device, unsigned char *out, int *outLen);
/* inEp and outEp receive one byte each, written only for a match. */
int  GetreaderEndpoint(struct libusb_device *dev, unsigned char *inEp, unsigned char *outEp);
int  Freelibusb(struct libusb_device_handle *handle, struct libusb_device **list,
                struct libusb_context *ctx);
void printfHex(unsigned char *bytes, int count);

/* ======================================================================
 * Layer 1b: reader handle API
 *
 * Port names "USB1".."USB9" (and "atoi"); reader handles 1650..1999, no
 * two open readers sharing one.  Readers opened under different port names
 * may be used by a thread each.
 * ====================================================================== */
long ICC_Reader_Open(const char *port);
long ICC_Reader_Close(long reader);

/* atr must hold KESTREL_ATR_SIZE bytes: it is cleared, and receives the
 * answer to reset followed by SW1 SW2.  An answer that does not fit (more
 * than KESTREL_ATR_SIZE - 2 bytes) is refused with -4.  Returns the
 * answer's length. */
#define KESTREL_ATR_SIZE 50
long ICC_Reader_PowerOn(long reader, unsigned char slot, char *atr);
long ICC_Reader_PowerOff(long reader, unsigned char slot);
long ICC_Reader_GetStatus(long reader, unsigned char slot);

/* rsp receives the response data followed by SW1 SW2 and must hold
 * KESTREL_MAX_RESPONSE bytes, the largest response the link delivers:
 * the reader, not the command, decides how much comes back.  Returns the
 * response length (2 or more) or a negative code. */
long ICC_Reader_Application(long reader, unsigned char slot, long cmdLen,
                            unsigned char *cmd, unsigned char *rsp);

/* info receives KESTREL_LIBINFO_SIZE (18) characters, without a NUL. */
#define KESTREL_LIBINFO_SIZE 18
long ICC_Reader_Libinfo(char *info);

extern char ICC_Reader_OpenMutex[8];
extern char ICC_Reader_CloseMutex[8];
extern char ICC_Reader_PowerOnMutex[8];
extern char ICC_Reader_PowerOffMutex[8];
extern char ICC_Reader_GetStatusMutex[8];
extern char ICC_Reader_ApplicationMutex[8];

/* ======================================================================
 * Layer 1c: reader peripherals
 *
 * The reader's QR-code scanner (slot 0x1C), magnetic-stripe head (slot
 * 0x1A) and identification (slot 0x00).  Each call opens the reader on
 * "USB1", sends its command(s), and closes the reader.  Returns 0, or a
 * negative code with a GB18030 text (NUL-terminated) in out:
 *
 *   reader not opened          -11, "读卡器连接失败" (Checkmod_Auto,
 *                              Checkmod_Cmd, SendScanCmd, iGetQRBase,
 *                              iGetQRCode) or "读卡器连接错" (the others)
 *   module refused the command Checkmod_Auto "失败,不识别指令",
 *                              Checkmod_Cmd "失败不识别指令", SendScanCmd
 *                              "扫码失败": the status word negated as a
 *                              card's (-27266 for 6A 82);
 *                              iGetQRBase, iGetQRCode "扫码失败", -111;
 *                              SetScanLedMode "失败不识别指令", -23;
 *                              GetScanMode "读扫码模式失败", -23;
 *                              SetMagTrip "设置磁道失败", -112;
 *                              ReadMagInfo, by step: track setting
 *                              "读磁道失败" -112, channel "磁条卡通道转换失败"
 *                              -23, swipe "磁条卡刷卡失败" -23, track data
 *                              "读磁条卡数据失败" -23
 *   null out                   -14, nothing written, nothing sent
 *
 * The codes -111 and -112 have no text of their own in getErrorInf.
 *
 * On success the module's answer data (its bytes, without the status
 * word) is copied to the start of out and no NUL is added: clear out
 * before the call to read it as text.  The answer is at most
 * KESTREL_SCAN_ANSWER_SIZE - 2 bytes, so a cleared buffer of that size
 * always ends in a NUL after it.  These functions write no call-log line.
 * ====================================================================== */

/* out of every scanner and stripe function except GetScanMode. */
#define KESTREL_SCAN_ANSWER_SIZE 4096
/* out of GetScanMode: two characters on success, or a failure text. */
#define KESTREL_SCAN_MODE_SIZE 16
/* out of iGetDeviceInfo: 20 + 1 + 12 + 1 characters and the NUL. */
#define KESTREL_DEVICE_INFO_SIZE 35

/* Scanner modes: automatic scanning (80 17 03 00 00) or scanning on
 * command (80 17 03 01 00). */
long Checkmod_Auto(char *out);
long Checkmod_Cmd(char *out);
/* The scanner's mode byte as two upper-case hexadecimal characters
 * ("00", "01"), without a NUL. */
long GetScanMode(char *out);
/* Scans a code: SendScanCmd sends B0 B0 00 08 00, iGetQRBase B0 B0 00 n 00
 * and iGetQRCode B0 B0 03 n 00, where n of 256 or more is sent as 255 and
 * a smaller n (a negative one too) as its low byte.  out receives the
 * code's bytes. */
long SendScanCmd(char *out);
long iGetQRBase(int n, char *out);
long iGetQRCode(int n, char *out);
/* Scanner light mode m: 0, 2 or 3 (B0 17 00 23 01 m); any other m returns
 * -23 and writes nothing, sending nothing. */
long SetScanLedMode(int m, char *out);

/* Stripe tracks setting t: 2, 3 or 6 (80 17 03 t 00); any other t writes
 * "不支持设置磁道数据" and returns -23, sending nothing. */
long SetMagTrip(int t, char *out);
/* Reads a swiped card: asks the head for its track setting k, switches to
 * the stripe, waits for the swipe and copies the data of READ BINARY
 * 00 B0 k 00 00 (in the head's own format) to out. */
long ReadMagInfo(char *out);

/* "<identification>|<terminal number>|": the reader's identification
 * (00 19 01 01 14 to slot 0x00, at most 20 characters, up to its first NUL
 * byte) and the PSAM's terminal number (file 16 of the PSAM in the PSAM
 * slot, 12 hexadecimal digits), each field empty when the reader or the
 * PSAM does not give it (so "<identification>||" without a PSAM).
 * NUL-terminated.  Returns 0 whenever the reader could be opened, else -11
 * with its table text (and getErrorInf's line in logbuf). */
long iGetDeviceInfo(char *out);

/* ======================================================================
 * Layer 1d: keypad
 *
 * One text entry on the reader's keypad, asked for by the host itself.
 * mode 1 to 4 chooses the prompt (2 and 4 are the same).  Opens the reader
 * on "USB1", waits for the holder (at most the link's response time-out)
 * and closes the reader.  Returns 0 with the keyed characters as they
 * came, NUL-terminated, in out; -14 for another mode or a null out, -11
 * when no reader opens (their texts in out), or -6 with "读取失败" when the
 * keypad refused the entry or answered with no text or more than
 * KESTREL_PASSWORD_SIZE - 1 characters.  out must hold
 * KESTREL_PASSWORD_SIZE bytes.  Logs no in-para or out-para line; -14 and
 * -11 leave their error line in logbuf.
 * ====================================================================== */
#define KESTREL_PASSWORD_SIZE 100
long iGetPassword(int mode, char *out);

/* ======================================================================
 * Layer 2: error codes and call log
 * ====================================================================== */

/* The call log: every exported card function formats a line describing
 * the call into logbuf, replacing the previous one (its name and input
 * when it starts, its output when it succeeds, the error code and text
 * when it fails), so logbuf holds the latest line, NUL-terminated.
 * Lines longer than the buffer are cut. */
#define KESTREL_LOGBUF_SIZE 10240
extern char logbuf[KESTREL_LOGBUF_SIZE];

/* Appends `line` and CR LF to the file "E:\qvlog.txt" in the current
 * directory, but only when that file already exists; never creates it. */
void Addlog(const char *line);

/* The reader handle that a multi-step HSM-assisted operation keeps open
 * between its calls: 0 before any such step, -11 once a card-level call
 * has closed the reader. */
long getHandler(void);

/* ======================================================================
 * Layer 4: card data model (conversions, request checks)
 * ====================================================================== */

/* ---- Data item directory --------------------------------------------
 * One 64-byte entry per data item (item tables), per child of a composite
 * item (child tables) or per field of a cyclic record (childTablerr).
 * In the composite-child tables dfName holds the parent tags, one byte
 * each, NUL-terminated.  Integers are little-endian.
 */
typedef struct FileTableEntry {
    char          dfName[5];      /* "SSSE", "DF01".."DF07" (or parent tags) */
    char          efName[5];      /* "EF05".."EF1A" */
    unsigned char tag;            /* item tag; 0 for a whole transparent or cyclic file */
    unsigned char reserved0;
    unsigned int  length;         /* value length, file size or record size */
    unsigned int  dataType;       /* 1 text, 15 cn, 16 moneycn, 17 moneyb, 2 composite,
                                     0 cyclic record, anything else binary */
    unsigned int  fileType;       /* 0 transparent, 1 fixed records, 2 TLV records, 3 cyclic */
    unsigned int  recordLength;   /* Le of READ RECORD */
    int           occurrences;    /* records of this tag in the file */
    unsigned int  readKeyAddr;    /* HSM key number for reading, 0 = none */
    unsigned char readKey[3];     /* key id, PSAM key type, PSAM key version */
    unsigned char reserved1;
    unsigned int  readKeyAux;     /* not used by any operation */
    unsigned int  readLevel;      /* 0 free, 1 PIN, 2 ext. auth, 3 PIN or ext. auth, 4 both */
    unsigned int  writeKeyAddr;
    unsigned char writeKey[3];
    unsigned char reserved2;
    unsigned int  writeKeyAux;    /* not used by any operation */
    unsigned int  writeLevel;     /* 0 free, 2 ext. auth, anything else: not writable */
} FileTableEntry;

/* Most entries that findAllChildByRecord and findChildRR hand back. */
#define KESTREL_MAX_CHILDREN 7

/* File addresses are texts whose first 8 characters are the DF and EF
 * names ("DF01EF05..."); items are texts of 2 hexadecimal digits.
 * cardVer 1 and 3 select their own tables, any other value version 2.
 * Outputs, each written only when found and when not null: findFileType
 * 2 unsigned (file type, record length), findDataType one int each,
 * findReadKey and findWriteKey 3 bytes of key and one int of level,
 * findRead/WriteKeyAddr one unsigned. */
const FileTableEntry *findFileDFEF(const char *fileAddr, int cardVer);
const FileTableEntry *findFile(const char *fileAddr, const char *item, int cardVer);
int findFileType(const char *fileAddr, unsigned *out, int cardVer);
int findDataType(const char *fileAddr, const char *item, int cardVer, int *dataType, int *length);
int findReadKey(const char *fileAddr, unsigned char *key, int *level, int cardVer);
int findWriteKey(const char *fileAddr, unsigned char *key, int cardVer, int *level);
int findReadKeyAddr(const char *fileAddr, unsigned *keyAddr, int cardVer);
int findWriteKeyAddr(const char *fileAddr, unsigned *keyAddr, int cardVer);
const FileTableEntry *findChildRecord(unsigned char childTag, unsigned char parentTag, int cardVer);
/* out must hold KESTREL_MAX_CHILDREN pointers; returns how many were written. */
int findAllChildByRecord(unsigned char parentTag, int cardVer, const FileTableEntry **out);
int findChildRR(const char *fileAddr, const FileTableEntry **out);
int findBtlvRecordOffset(unsigned char tag);

/* ---- Value conversions -----------------------------------------------
 * Output sizes: CHexToBin (n + 1) / 2 bytes; BinToCHex and cnToAsc
 * 2 * n + 1; moneycnToAsc and moneybToAsc KESTREL_MONEY_TEXT_SIZE;
 * ascToMoneyb, ascToMoneycn and DoubleToBCD 4 bytes; memcpyAdd0 and
 * strcpyFixLen n + 1. */
#define KESTREL_MONEY_TEXT_SIZE 16
char  *CHexToBin(char *dst, const char *src, unsigned n);
char  *BinToCHex(char *dst, const char *src, int n);
int    checkHexNumber(const char *text);
int    cnToAsc(char *dst, const char *src, int n);
int    checkDigitalNumber(const char *text);
int    moneycnToAsc(char *dst, char *src);
int    moneybToAsc(char *dst, char *src);
int    ascToMoneyb(char *dst, char *src);
int    ascToMoneycn(char *dst, char *src);
int    checkMoneyFormat(char *text);       /* 1 = writable amount, 0 = not */
int    memcpyAdd0(char *dst, const char *src, int n);
int    strcpyFixLen(char *dst, const char *src, int n);
double BCDTodouble(const unsigned char *src);
/* Truncates value and stores 0 to 4294967295 as 4 unsigned big-endian
 * bytes (more: FF FF FF FF); negative values down to -2^31 in two's
 * complement (less: 80 00 00 00); NaN as 0. */
void   DoubleToBCD(unsigned char *dst, double value);

/* ---- Interface texts --------------------------------------------------
 * The splitters write at most maxRows rows of KESTREL_ROW_SIZE bytes each
 * (rows must hold maxRows * KESTREL_ROW_SIZE bytes); a longer field is cut
 * to fit its row. */
#define KESTREL_ROW_SIZE 5120
int findDollar(const char *text);
int findcharNum(const char *text, int ch);
int splitWithDollar(const char *text, char *rows, int maxRows);
int splitWithShift6(const char *text, char *rows, int maxRows);

/* ---- TLV search -------------------------------------------------------
 * Copies every top-level occurrence of a one- or two-byte tag, whole, to
 * out (KESTREL_TLV_OUT_SIZE bytes) and their total length to *outLen (one
 * byte), and returns their number. */
#define KESTREL_TLV_OUT_SIZE 256
unsigned char tag_decodetlv(unsigned char len, const unsigned char *tag,
                            const unsigned char *data, unsigned char *out,
                            unsigned char *outLen);

/* ======================================================================
 * Layer 5: card security (PSAM services for hosts)
 *
 * Both power the PSAM in the reader's PSAM slot, select its DF01 and
 * initialise the key of the given type byte (its top three bits are the
 * diversification level n, 1 to 3, of which the first 8 * n bytes of the
 * 24 bytes of divData are sent; divLen is not used) and version with the
 * random data.  They return 0, or the PSAM's status word itself (a
 * positive value such as 0x6A88; 0x6F00 when the exchange failed or the
 * answer was malformed), or -14 for arguments that do not fit one
 * command, -24 for a level above 3, -2202 when PSAMMAC2 cannot select the
 * PSAM application "sx3.sh." of algorithm 3.
 * ====================================================================== */

/* Encrypts dataLen (1 to 250) bytes; out (KESTREL_PSAM_ANSWER_SIZE bytes)
 * receives the PSAM's answer and *outLen its length (a longer answer is
 * refused with 0x6F00). */
#define KESTREL_PSAM_ANSWER_SIZE 256
long PSAMDes2(long handle, int keyType, int keyVersion, unsigned char *divData, int divLen,
              unsigned char *data, int dataLen, unsigned char *out, unsigned int *outLen,
              unsigned char *randomData, unsigned int randomLen);

/* MAC with an 8-byte initial value over dataLen bytes (at most 239)
 * padded with 80 00.. to a multiple of 8.  mac receives the PSAM's MAC
 * exactly as it answered, 4 to KESTREL_MAC_MAX bytes (an answer of fewer
 * than 4 or more than KESTREL_MAC_MAX bytes is refused with 0x6F00), and
 * nothing past it: size mac for the MAC the PSAM gives (4 or 8 bytes for
 * the usual PSAM), or KESTREL_MAC_MAX bytes when that is not known. */
#define KESTREL_MAC_MAX 16
long PSAMMAC2(long handle, int keyType, int keyVersion, unsigned char *divData, int divLen,
              unsigned char *iv, unsigned char *data, long dataLen, unsigned char *mac,
              unsigned char *randomData, unsigned int randomLen);

/* ======================================================================
 * Layer 6: social-security card operations
 *
 * Each call opens the reader on "USB1", powers the holder's card on the
 * interface that iType names (1 contact, 2 contactless, 3 contact then
 * contactless, 4 contactless then contact), does its work and closes the
 * reader.  Returns 0 with the result text in out, or a negative error
 * code with that code's text in out.  logbuf holds the call's last line.
 * ====================================================================== */

/* Basic card information, eleven fields each ended by "|": issuing-region
 * code, social security number, card number, card identification code
 * (32 hex digits), holder name (GB18030), last 13 bytes of the answer to
 * reset (26 hex digits), card version text as on the card, issue date,
 * expiry date, PSAM terminal number (12 hex digits, zeros without a PSAM),
 * reader device number (up to its first NUL byte).  When the reader gives
 * no device number, the text read up to its NUL ends after the terminal
 * number's "|" (the buffer holds the 20 zero bytes of the number and its
 * "|" after that).  out must hold KESTREL_BASEINFO_SIZE bytes. */
#define KESTREL_BASEINFO_SIZE 205
long iReadCardBas(int iType, char *out);

/* The holder's PIN, typed by the holder on the reader's keypad (4 to 16
 * digits).  out must hold KESTREL_PIN_OUT_SIZE bytes and receives:
 *   iVerifyPIN   "PIN校验成功"
 *   iChangePIN   "PIN修改成功" (old PIN, new PIN, new PIN again; the new
 *                PIN may not be the initial PIN 480913: -36)
 *   iReloadPIN   an empty text (a new PIN and its repetition; the
 *                terminal's PSAM authenticates it to the card)
 *   iUnblockPIN  an empty text (the card's try counter is restored)
 * or on failure the text of the code, with these in particular:
 *   -51 "PIN校验失败，剩余次数N次" or "PIN修改失败，剩余次数N次", N the
 *       tries the card has left; -52 the PIN is blocked;
 *   -32 keypad not ready, entry refused or timed out; -33 an entry of the
 *       wrong length; -34 the new PIN and its repetition differ;
 *   -22 the card is not the one cardInfo names; -2201, -2202, -24 the
 *       PSAM is missing, lacks the application or the key.
 * cardInfo names the card the call must act on: the card identification
 * code as 32 upper-case hexadecimal digits, "|", the card number, "|";
 * a text without exactly two "|" (or a null one) is refused with -14
 * before the reader is opened, and so is a field of more than
 * KESTREL_ROW_SIZE - 1 characters.  logbuf holds the in-para line (after
 * a reload or unblock the card's diversification trace) on success, the
 * error line on failure. */
#define KESTREL_PIN_OUT_SIZE 100
long iVerifyPIN(int iType, char *out);
long iChangePIN(int iType, char *out);
long iReloadPIN(int iType, char *cardInfo, char *out);
long iUnblockPIN(int iType, char *cardInfo, char *out);

/* ---- Data items by file address --------------------------------------
 * pFileAddr names up to 5 groups, each "<file address>|<item>|...|$" with
 * at most 4 items: the file address is the DF ("SSSE", "DF01".."DF07")
 * and the EF ("EF05"...) run together, an item is its tag in 2
 * hexadecimal digits, "<tag>:<n>" for the n-th occurrence of a composite
 * item, or the number of a record of a cyclic file ("01".."1E").  A group
 * of a transparent or cyclic file may name no item: the whole file, every
 * record (up to 30).  Groups after the fifth, and items after the fourth,
 * are not looked at.  cardInfo names the card as for iReloadPIN.
 *
 * iReadCard: files that the PIN or the terminal's authentication may each
 * open are opened with the PIN for iAuthType 1, with the PSAM for 2 (any
 * other value: -14); files that need the PIN, or both, always ask for it.
 * The PIN is typed on the reader's keypad, at most once per call.  A file
 * of the application (SSSE) named after a file of DF01..DF07 is read from
 * the application, which is selected again.  out receives per
 * group "<file address>|", each item's text and "|" (a transparent file
 * is one field, each cyclic record one), and "$".  Texts: text items as
 * stored (GB18030), digits, amounts in yuan with two decimals, binary as
 * upper-case hexadecimal; composite items and cyclic records as their
 * fields each followed by "^".
 *
 * out must hold KESTREL_READCARD_OUT_SIZE bytes: 5 groups of
 * KESTREL_READCARD_GROUP_SIZE characters, each with its "$", and the NUL.
 * A group's text is at most the 8 characters of its file address and "|",
 * then per field at most 2 characters per byte of the item's length (11
 * for an amount; a cyclic record the sum of its fields' texts and "^"s)
 * and "|".  The largest group of each card version:
 *   version 1: DF02EF07 with 30 records of 85 bytes, 8 + 1 + 30 * (97 + 1)
 *              = 2949;
 *   version 2: SSSEEF08, 4096 bytes: 8 + 1 + 8192 + 1 = 8202;
 *   version 3: SSSEEF08, 8192 bytes: 8 + 1 + 16384 + 1 = 16394;
 * so 5 * (16394 + 1) + 1 = 81976 bytes.  A card answering more than an
 * item holds is read up to the item's length, and nothing is written
 * past that size on any path.
 *
 * iWriteCard: pWriteData holds one group per group of pFileAddr, with the
 * same file address and one value per item, in the item's text form; the
 * group of a transparent file holds the file's content (hexadecimal, at
 * most 2559 bytes, from offset 0), a group of a cyclic file one record per
 * value, each appended as the file's newest record in the order given.
 * Text longer than a text item is cut to its length, digits beyond a
 * digit item's length are dropped.  Every group and value is checked
 * before anything is written: -14 for a data text of another shape than
 * the address list (or more than one value for a transparent file), -23
 * for a malformed address or a value that does not convert (hexadecimal
 * longer than its item among them), -25 for a
 * file or item the card's version lacks, -27010 for an item that cannot
 * be written (the debit records of DF04EF08).  A failure of the card
 * after the first group leaves the groups before it written.  out (at
 * least KESTREL_WRITECARD_OUT_SIZE bytes) receives the empty text.
 *
 * Both return 0, or a negative code with its text in out (the retry text
 * of a refused PIN).  logbuf holds the error line after a failure,
 * iReadCard's out-para line after a read, and the card's diversification
 * trace ("DivIndex: ...") after a write, which logs no output. */
#define KESTREL_READCARD_GROUP_SIZE 16394
#define KESTREL_READCARD_OUT_SIZE (5 * (KESTREL_READCARD_GROUP_SIZE + 1) + 1)
#define KESTREL_WRITECARD_OUT_SIZE 100
long iReadCard(int iType, int iAuthType, char *pCardInfo, char *pFileAddr, char *pOutInfo);
long iWriteCard(int iType, char *pCardInfo, char *pFileAddr, char *pWriteData, char *pOutInfo);

/* ======================================================================
 * Layer 7: operations whose cryptograms come from the host's HSM
 *
 * Each operation runs in two or three calls.  Step 1 opens the reader on
 * "USB1", prepares the card and writes into out the text that the host
 * passes to its hardware security module; the host passes the module's
 * answer to the next step, which continues on the reader that Step 1 left
 * open.  The last step, and every step that fails, closes the reader.  No
 * other card call may come between the steps: any card-level call closes
 * the reader, and a later step then answers -11 (so does a later step
 * after a failed one).  getHandler() returns the open sequence's reader
 * handle, -11 when none is open.
 *
 * Texts are "|"-terminated fields.  Binary values are upper-case
 * hexadecimal digits; the module's hexadecimal answers may use either
 * case, except where a command header is compared (Step 3).  The
 * algorithm field is the card's algorithm indicator as two lower-case
 * hexadecimal digits ("01", "02", "03"); a key address field names the
 * module's key in 4 upper-case hexadecimal digits.
 *
 * Challenge block (out of a Step 1 that asks for external
 * authentication): algorithm|key address|random part 1|random part 2|,
 * the two parts 16 digits each: the card's second and first challenge.
 * The module answers with 32 hexadecimal digits, the 16 bytes of
 * EXTERNAL AUTHENTICATE for the card's last challenge (random part 1).
 *
 * cardInfo names the card the operation must act on, as for iReloadPIN:
 * the card identification code in 32 upper-case hexadecimal digits, "|",
 * the card number, "|".  Another card gives -22.
 *
 * Failures (the code's text in out): -14 for iType outside 1 to 4, a
 * cardInfo without exactly two "|" (both before the reader is opened), or
 * a module answer of the wrong length, field count, header or not
 * hexadecimal (checked before anything is sent to the card); -11 when the
 * reader cannot be opened or no sequence is open; -22 another card; -21
 * the card's internal authentication differs from the module's; the
 * card's refusal of the module's cryptogram as its translated status
 * (-25536, -25537, -25538 with 2, 1, 0 tries of the key left); the PIN
 * entry codes as for iReloadPIN.
 *
 * out of every step holds KESTREL_HSM_OUT_SIZE bytes, except
 * iReadCardBas_HSM_Step1 (KESTREL_HSM_CARD_DATA_SIZE),
 * iReadCardBas_HSM_Step2 (KESTREL_BASEINFO_SIZE) and iReadCard_HSM_Step2
 * (KESTREL_HSM_READ_OUT_SIZE).  logbuf holds each
 * step's in-para line, then its out-para line on success (none for Step 3)
 * or the error line.
 * ====================================================================== */
#define KESTREL_HSM_OUT_SIZE 100
#define KESTREL_HSM_CARD_DATA_SIZE 170

/* Basic information with the module checking the card.  Step 1 (card of
 * a known version) writes
 *   region|atr|alg|cardId|R2|R1|R4|R3|device|
 * the issuing-region code (6 digits), the last 13 bytes of the answer to
 * reset (26 digits), the algorithm indicator in decimal ("%02d"), the card
 * identification code (32 digits), the two challenges (16 digits each,
 * second first) over which the card computed its internal authentication,
 * for a card of version 3 two more challenges (second first; the module's
 * external authentication answers R4) and otherwise two empty fields, and
 * the reader's device number (up to its first NUL byte).
 * Step 2 takes expected|cryptogram|: 32 digits of which the first 16 must
 * be the card's internal-authentication answer (-21 otherwise), and an
 * empty field or the 32-digit external authentication with the card's key
 * 0A; out receives the text of iReadCardBas. */
long iReadCardBas_HSM_Step1(int iType, char *pOutInfo);
long iReadCardBas_HSM_Step2(char *pHsmData, char *pOutInfo);

/* PIN reload and unblock.  Step 1 (the same for both) writes the
 * challenge block with key address 0090.  Step 2 takes the module's
 * cryptogram; the reload then has the holder type the new PIN twice on
 * the reader's keypad (-34 when the entries differ).  Step 2 writes
 *   alg|0173|challenge|header|pin|
 * the card's fresh 8-byte challenge (16 digits), the header of the
 * command the module builds over it and the new PIN as typed (an odd
 * count padded with F; empty for the unblock).  The reload's header is
 * 8424000114 (16 encrypted bytes) for algorithms 2 and 3 and for a PIN of
 * more than 12 characters, else 842400010C (8 encrypted bytes); the
 * unblock's is 8424000004.  Step 3 takes the whole command in hexadecimal:
 * 842400010C and 24 digits, 8424000114 and 40 digits, 8424000004 and 8
 * digits; out receives an empty text. */
long iReloadPIN_HSM_Step1(int iType, char *pCardInfo, char *pOutInfo);
long iReloadPIN_HSM_Step2(char *pHsmData, char *pOutInfo);
long iReloadPIN_HSM_Step3(char *pHsmData, char *pOutInfo);
long iUnblockPIN_HSM_Step1(int iType, char *pCardInfo, char *pOutInfo);
long iUnblockPIN_HSM_Step2(char *pHsmData, char *pOutInfo);
long iUnblockPIN_HSM_Step3(char *pHsmData, char *pOutInfo);

/* Data items of files that the terminal's authentication opens.  Step 1
 * takes a file-address list (as iReadCard) of which only the first group,
 * up to and with its "$", is served (-14 without "$" or for a group of
 * more than 1023 characters); the card must be of a known version.  It
 * selects the file and writes the challenge block with the file's key
 * address for reading or writing.  The read Step 1 refuses a file that
 * is free or needs only the PIN with -2204 (iReadCard reads it), and a
 * file that needs both the terminal's authentication and the PIN has the
 * holder type the PIN on the keypad first (its retry text on a refusal).
 * The write Step 1 refuses a file that this interface does not write
 * (the debit records of DF04EF08) with -27264.
 *
 * iReadCard_HSM_Step2 takes the module's cryptogram and writes the
 * group's text as iReadCard does, without the "$": "<file address>|",
 * each item's text and "|".  out holds KESTREL_HSM_READ_OUT_SIZE bytes,
 * the longest group's text and its NUL.
 *
 * iWriteCard_HSM_Step2 takes the cryptogram and a write-data text of one
 * group for the file of Step 1 (-14 otherwise), checked as iWriteCard
 * checks it before anything reaches the card; a cyclic file receives one
 * record, of the first value.  out receives an empty text.  A failure of
 * the card's write after the authentication may leave the items before
 * the failing one written; the host reads the group back to know. */
#define KESTREL_HSM_READ_OUT_SIZE (KESTREL_READCARD_GROUP_SIZE + 1)
long iReadCard_HSM_Step1(int iType, char *pCardInfo, char *pFileAddr, char *pOutInfo);
long iReadCard_HSM_Step2(char *hsmAnswer, char *pOutInfo);
long iWriteCard_HSM_Step1(int iType, char *pCardInfo, char *pFileAddr, char *pOutInfo);
long iWriteCard_HSM_Step2(char *hsmAnswer, char *pWriteData, char *pOutInfo);

/* ======================================================================
 * Layer 8: identity card, bank-card number, card-type probe
 * ====================================================================== */

/* ---- Resident identity card ------------------------------------------
 * Read through the reader's identity-card module (slot 0x1B).  The text
 * buffer must hold KESTREL_ID_OUT_SIZE bytes; it receives the holder's
 * data, or on failure a text: the one of -11 (reader not opened), of -2
 * (no module answered its power-on: "无卡") or "读身份证失败" (a module step
 * refused, the code being the reader's status translated as card status
 * words are, -36864 when the reader passed on a refusal of the module).
 * Texts are GB18030; sex is "男" for the code 1 and "女" otherwise; the
 * ethnic group is its name, empty for an unknown code.  Dates are YYYYMMDD.
 *
 * iReadIdentityCard: for a resident identity card
 *   |name|sex|ethnic group|date of birth|address|identity number|
 *    valid from|valid to|issuing authority|
 * (ten "|"; trailing spaces removed; name, address and authority end at
 * their first space).  For the two other kinds of card the module reads
 * (permanent residence "I", residence permit "J") the text is empty.
 *
 * iReadSFZ: every field followed by "^", trailing spaces removed:
 *   resident identity card: number^name^^sex^ethnic group^date of birth^
 *     address^issuing authority^valid from and to (16 digits)^
 *   "J" residence permit: number^name^travel-permit number^sex^
 *     date of birth^address^issuing authority^valid from and to^^
 *   "I" permanent residence: card number^sex^name in Latin letters^
 *     nationality code^name in Chinese^valid from and to^date of birth^
 *     card version^issuing authority code^I^
 *
 * Both return 0 or a negative code.  IDC_ReadIDCard, which also returns
 * the photo, is exported under its C++ symbol only:
 *   long IDC_ReadIDCard(char *outInfo, char *photoHex);
 * photoHex must hold KESTREL_ID_PHOTO_HEX_SIZE bytes.
 */
#define KESTREL_ID_OUT_SIZE 4096
#define KESTREL_ID_MAX_PHOTO 1024
#define KESTREL_ID_PHOTO_HEX_SIZE (2 * KESTREL_ID_MAX_PHOTO + 1)

long iReadIdentityCard(char *pOutInfo);
long iReadSFZ(char *pOutInfo);

/* Bank-card number: the primary account number of the card's payment
 * application, found through the payment system environment
 * "1PAY.SYS.DDF01" and its directory and searched for in records 1 to 255
 * of the application's files 0 to 11.  Returns 0 with the number as
 * upper-case hexadecimal digits (at most 20, a final padding F removed)
 * in out; 0 also when no record holds a number, and then out is left as
 * it was, so clear it before the call.  On failure returns a negative
 * code with its text in out: the table codes for the card type, the
 * reader and the card; for the payment steps the card's status word
 * negated (-27266 for 6A 82; -36864 when a tag is missing) with the
 * step's own text, and -28416 with "读记录失败" once 12 reads of the
 * search have gone unanswered (so the search never waits out more than 12
 * response time-outs).  out must hold KESTREL_BANKNO_SIZE bytes. */
#define KESTREL_BANKNO_SIZE 100
int iReadBankNo(int iType, char *out);

/* Card-type probe: the reader's category probe of the card in the contact
 * slot, else the card in the contactless field (which is not probed).
 * For a social-security card (category 3) returns 0 and writes cardType
 * "0003" with two NUL bytes (6 bytes), region the 6 hexadecimal digits of
 * the issuing-region code and versionOrError the 4 characters of the
 * card's version text (such as 3.00).  Region and version are written
 * without a NUL: pass cleared buffers of at least 7 and 5 bytes to read
 * them as text.  For any other card returns the length of the probe's
 * answer (1 for the usual one-byte answer; 2 for a card in the
 * contactless field) and cardType holds the two bytes 00 and the category
 * (1, 2, 7 or 9; 0 unprobed).  On failure returns a negative code with
 * its text in versionOrError, which must then hold 100 bytes. */
int iReadCardType(char *cardType, char *region, char *versionOrError);

#ifdef __cplusplus
}
#endif

#endif /* KESTREL_H */
