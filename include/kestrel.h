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

/* ======================================================================
 * Layer 6: social-security card operations
 * ====================================================================== */

/* ======================================================================
 * Layer 8: identity card, bank-card number, card-type probe
 * ====================================================================== */

#ifdef __cplusplus
}
#endif

#endif /* KESTREL_H */
