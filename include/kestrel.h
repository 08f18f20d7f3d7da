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
 * Calls must come from one thread at a time.
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
 * KESTREL_MAX_RESPONSE bytes; a longer response is refused with 0x6FF0.
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
int  GetreaderEndpoint(struct libusb_device *dev, unsigned char *inEp, unsigned char *outEp);
int  Freelibusb(struct libusb_device_handle *handle, struct libusb_device **list,
                struct libusb_context *ctx);
void printfHex(unsigned char *bytes, int count);

/* ======================================================================
 * Layer 1b: reader handle API
 *
 * Port names "USB1".."USB9" (and "atoi"); reader handles 1650..1999.
 * ====================================================================== */
long ICC_Reader_Open(const char *port);
long ICC_Reader_Close(long reader);
long ICC_Reader_PowerOn(long reader, unsigned char slot, char *atr);
long ICC_Reader_PowerOff(long reader, unsigned char slot);
long ICC_Reader_GetStatus(long reader, unsigned char slot);
long ICC_Reader_Application(long reader, unsigned char slot, long cmdLen,
                            unsigned char *cmd, unsigned char *rsp);
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
 * cardVer 1 and 3 select their own tables, any other value version 2. */
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

/* ---- Value conversions ----------------------------------------------- */
char  *CHexToBin(char *dst, const char *src, unsigned n);
char  *BinToCHex(char *dst, const char *src, int n);
int    checkHexNumber(const char *text);
int    cnToAsc(char *dst, const char *src, int n);
int    checkDigitalNumber(const char *text);
/* dst of moneycnToAsc and moneybToAsc: at least 16 bytes. */
int    moneycnToAsc(char *dst, char *src);
int    moneybToAsc(char *dst, char *src);
int    ascToMoneyb(char *dst, char *src);
int    ascToMoneycn(char *dst, char *src);
int    checkMoneyFormat(char *text);       /* 1 = writable amount, 0 = not */
int    memcpyAdd0(char *dst, const char *src, int n);
int    strcpyFixLen(char *dst, const char *src, int n);
double BCDTodouble(const unsigned char *src);
void   DoubleToBCD(unsigned char *dst, double value);

/* ---- Interface texts --------------------------------------------------
 * Rows of the splitters are KESTREL_ROW_SIZE bytes; a longer field is cut
 * to fit its row. */
#define KESTREL_ROW_SIZE 5120
int findDollar(const char *text);
int findcharNum(const char *text, int ch);
int splitWithDollar(const char *text, char *rows, int maxRows);
int splitWithShift6(const char *text, char *rows, int maxRows);

/* ---- TLV search -------------------------------------------------------
 * Copies every top-level occurrence of a one- or two-byte tag, whole, to
 * out (256 bytes) and returns their number. */
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

/* Encrypts dataLen (1 to 250) bytes; out (256 bytes) receives the PSAM's
 * answer and *outLen its length. */
long PSAMDes2(long handle, int keyType, int keyVersion, unsigned char *divData, int divLen,
              unsigned char *data, int dataLen, unsigned char *out, unsigned int *outLen,
              unsigned char *randomData, unsigned int randomLen);

/* MAC with an 8-byte initial value over dataLen bytes (at most 239)
 * padded with 80 00.. to a multiple of 8; mac (16 bytes) receives the
 * PSAM's answer. */
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
 * reader device number (empty when the reader gives none).  out must hold
 * KESTREL_BASEINFO_SIZE bytes. */
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

/* Debit (purchase) on the card's debit application, with the PSAM in the
 * reader computing MAC1 and checking the card's MAC2.
 *
 * iDoDebit: pCardInfo names the card as for iReloadPIN; pPayInfo is
 * "amount1|amount2|YYYYMMDDhhmmss|": two amounts in yuan (digits, at most
 * one "." and two decimals, at most 42949672.95) and the date and time,
 * exactly 14 digits; a fourth field is ignored.  The card is given the
 * three amounts 0, amount1 and amount2 to debit.  The holder types the PIN on the keypad; the initial PIN 480913 is refused
 * (-35).  pOutInfo (KESTREL_DEBIT_OUT_SIZE bytes) receives on success the
 * 74 characters
 *   alg|00B5|AAAAAAAABBBBBBBB|32|terminal|serial|YYYYMMDDhhmmss|TAC|
 * alg the card's algorithm in two lower-case hexadecimal digits, A and B
 * amount1 and amount2 in fen as 8 hexadecimal digits each, terminal the
 * PSAM's terminal number (12 hexadecimal digits), serial the PSAM's
 * terminal transaction serial (8) and TAC the card's transaction
 * certificate (8), all upper case.  logbuf then holds the out-para line
 * "iDoDebit, out para: 0, <text>\r\n".
 * Failures write the code's text: -14 for the arguments (nothing sent to
 * the reader), -11, -22 for another card, the PIN's codes (-35, -51, -52,
 * -32, -33), -2201, -2202, -24 for a PSAM whose key or region does not
 * serve the card, and the card's or PSAM's status words translated (for
 * instance -37889, 94 01, when the balance does not cover the debit).
 *
 * A failure after the debit command was sent may come with a debited
 * card: the PSAM refused the card's MAC2 (typically -37634, "MAC无效"), or
 * the card's answer to the debit did not arrive whole (-28416 when it was
 * lost, or the negated 61xx or 6Cxx that stood in its place).  The card's
 * balance may then be lower although the call failed and wrote no result
 * text.
 * For such a failure logbuf holds the error line followed by
 *   "iDoDebit, debit not confirmed: serial SSSS, terminal serial TTTTTTTT,
 *   TAC XXXXXXXX\r\n"
 * (one line; TAC empty when the card's answer did not arrive).  SSSS is the
 * card's transaction serial for this debit, with which the card's record
 * of the debit begins: when iReadDebitRecord shows a record beginning
 * SSSS^ with this terminal number and date and time, the card did debit.
 * A failure without that line left the balance unchanged.
 *
 * iReadDebitRecord: the card's transaction records, newest first, after
 * the holder's PIN from the keypad.  pOutInfo (KESTREL_DEBIT_RECORDS_SIZE
 * bytes) receives, from its first byte, one field per record (at most
 * 30):
 *   SSSS^TTTTTTTTTTTT^YYYYMMDDhhmmss^amount1^amount2^|
 * the transaction serial, terminal number and date and time in
 * hexadecimal, and the two amounts in yuan ("12.50"; empty when the card
 * holds no amount there).  A card without records fails with the code of
 * its answer to the first read (-27267, 6A 83, usually).
 *
 * iTryPIN: verifies the first 6 characters of pPIN (decimal digits; the
 * last may be the padding F) as the holder's PIN, without the keypad.
 * pOutInfo (KESTREL_TRY_PIN_OUT_SIZE bytes) receives "" or the code's
 * text ("PIN校验失败，剩余次数N次" for -51).  Writes no out-para line, and
 * closes the reader state on every path, also when the arguments are
 * refused, so that a pending HSM step sequence ends. */
#define KESTREL_DEBIT_OUT_SIZE 100
#define KESTREL_DEBIT_RECORDS_SIZE 1741
#define KESTREL_TRY_PIN_OUT_SIZE 100
long iDoDebit(int iType, char *pCardInfo, char *pPayInfo, char *pOutInfo);
long iReadDebitRecord(int iType, char *pOutInfo);
long iTryPIN(int iType, char *pPIN, char *pOutInfo);

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
 * step's own text, and -28416 when the reader stops answering during the
 * search.  out must hold KESTREL_BANKNO_SIZE bytes. */
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
