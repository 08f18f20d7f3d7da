# The demonstration profile: what the virtual reader holds when vreader
# starts without --profile.  It is built into vreader; copy it as a starting
# point for profiles of your own (vreader --profile FILE).
#
# Format: UTF-8 text.  "[section]" starts a section, "key = value" sets a
# key in it (blanks around key and value do not count), lines beginning
# with # are comments.  Every key may be left out and then takes the
# default named in its comment; leaving out [card] or [psam] leaves that
# slot empty, leaving out [payment] leaves the card without a payment
# application.  Hexadecimal values may contain blanks.  Digit values (dates,
# codes) are stored on the card two digits per byte, padded with F; texts
# are stored in GB18030, padded with zero bytes.

# ---------------------------------------------------------------------------
# The reader itself (slot 00).
[reader]
# device-number: the reader's 20-byte device number, its answer to the
#   device-number query 00 19 01 01 14.  Printable ASCII, at most 20
#   characters (padded with zero bytes), or hex: and up to 20 bytes, or
#   none (the reader refuses the query with 6D 00).  Default: none.
device-number = KVR1-000000000000042

# ---------------------------------------------------------------------------
# The holder's social-security card.
[card]
# slot: contact (slot 01) or contactless (slot 02).  Default: contact.
slot = contact
# version: the card's generation, 1, 2 or 3: decides which files and
#   sub-applications it carries and how they are guarded.  Default: 2.
version = 2
# version-text: the 4 characters of the card's version record (EF05
#   record 3), or zeros for four zero bytes.  Default: the version as
#   1.00, 2.00 or 3.00.
version-text = 2.00
# algorithm: the card's cryptographic algorithm: 1 (triple DES, 8-byte
#   blocks) or 2, 3 (SM4, 16-byte blocks; the PSAM serves them with its
#   application of the same number).  Default: 2.
algorithm = 2
# fci: how the application's file control information tells the
#   algorithm: indicator (9F0C holding 00 and the value), tag86 (9F0C
#   holding tag 86 with the value), neither (9F0C holding something else),
#   no-9f0c, no-a5, no-6f (those tags left out); or hex: and the whole
#   FCI.  Default: indicator.
fci = indicator
# fci-value: the value that the FCI carries (0 to 255).  Default: the
#   algorithm.
# fci-value = 2
# atr: the card's answer to reset, 13 to 33 bytes.  Its last 8 bytes are
#   the card's own diversification factor.
#   Default: 3B 6D 00 00 81 4B 45 53 53 43 01 23 45 67 89 AB.
atr = 3B 6D 00 00 81 4B 45 53 53 43 00 00 00 00 00 42
# region: the issuing-region code, 6 digits: the first 3 bytes of the
#   identification code.  Default: 430105.
region = 430105
# identification-code: the card identification code (EF05 record 1), 16
#   bytes; it must begin with the region when both are given.  Default:
#   the region, then D1 56 00 00 05 00 00 00 00 00 00 00 01.
identification-code = 43 01 05 D1 56 00 00 05 00 00 00 00 00 00 00 42
# card-type: EF05 record 2, one character.  Default: a zero byte.
card-type = 3
# institution: the issuing institution's number, up to 24 digits (EF05
#   record 4).  Default: all F.
institution = 430100000001
# issue-date, expiry-date: 8 digits, YYYYMMDD (EF05 records 5 and 6).
#   Default: all F.
issue-date = 20240301
expiry-date = 20340301
# card-number: EF05 record 7, at most 9 characters.  Default: zero bytes.
card-number = K43000042
# category: the byte with which the reader answers the card category probe
#   80 17 00 59 01 on the contact slot: 00 for a social-security card (09,
#   0A, 12 or any other byte for other kinds of card), or none: the probe
#   then reaches the card, which refuses it.  Default: 00.
category = 00
# pin: the holder's PIN, 4 to 16 digits.  Default: 480913, the initial
#   PIN every card is issued with (which a debit refuses).
pin = 123456
# pin-tries: the PIN's tries (1 to 15): each wrong PIN costs one, the
#   right one restores them, and none left blocks the PIN until a reload
#   or unblock.  pin-tries-left: how many are left now (0: blocked).
#   Default: 3, all of them.
pin-tries = 3
# pin-tries-left = 3

# ---------------------------------------------------------------------------
# The holder, as the card stores it in EF06.
[holder]
# social-security-number: record 1, at most 18 characters.
social-security-number = 430105198001010042
# name: record 2, at most 30 bytes in GB18030 (two bytes for most Chinese
#   characters).
name = 张三
# name-extension: record 3 of cards of version 2 and 3, at most 20 bytes;
#   the rest of a name that does not fit in 30 bytes.
name-extension =
# sex: one character (1 male, 2 female); nation: 2 digits; birthplace: up
#   to 6 digits (a region code); birth-date: 8 digits, YYYYMMDD.
sex = 1
nation = 01
birthplace = 430105
birth-date = 19800101

# ---------------------------------------------------------------------------
# The issuer's master keys.  The PSAMs hold them; the card holds the keys
# diversified from them for its own answer to reset and region, so that
# authentication works exactly when card and PSAM belong together.
[keys]
# seed: every master key that the card needs (one per key type and
#   version) is made from this text.  Default: kestrel.
seed = kestrel demo
# tries: the try counter of each external-authentication key of the card
#   (1 to 15).  Default: 3.
tries = 3
# internal-key: the PSAM key (type byte, version byte) from which the
#   card's internal-authentication key is diversified.  Default: 48 01.
internal-key = 48 01
# key TT VV: a master key given explicitly, 16 bytes, for the PSAM key of
#   type byte TT (its top 3 bits the diversification level) and version
#   VV; it replaces the key made from the seed.
# key 48 12 = 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF

# ---------------------------------------------------------------------------
# A PSAM; repeat the section for more PSAMs in other slots.
[psam]
# slot: 11, 12, 13 or 14.  Default: 11.
slot = 11
# applications: the PSAM applications for cards of algorithm 2 and 3
#   ("sx2.sh.社会保障", "sx3.sh.社会保障"), or none; the PSAM always serves
#   algorithm 1 from its master file.  Default: 2 3.
applications = 2 3
# terminal-number: the terminal file 0016, 6 bytes, the first 3 being the
#   PSAM's region (which decides which key levels may serve a card); none
#   for a PSAM without terminal file.  Default: the card's region, then
#   00 00 01.
terminal-number = 43 01 05 00 00 07

# ---------------------------------------------------------------------------
# Any other item of the card, as DFxx.EFyy.TT (SSSE for the application's
# own files), with :N for the N-th record of an item that repeats, or as
# DFxx.EFyy for the whole content of a transparent file (hex) or the
# records of a cyclic file (hex records of the file's record size,
# separated by ",", the newest first).  Values are written as the item is
# stored: text, digits, an amount in fen, or hex.
[items]
# DF01.EF05.21 = 湖南省长沙市

# ---------------------------------------------------------------------------
# The identity-card module (slot 1B) and the card in its field.  Leaving the
# section out leaves the slot empty.  Texts are stored as 16-bit characters
# padded with spaces; each field has room for the number of characters
# named, by the kind of card (- : the kind has no such field).  A field
# that is left out is blank.
[idcard]
# in-field: yes, or no for the module with no card in its field.
#   Default: yes.
in-field = yes
# kind: resident (the resident identity card), J (residence permit) or I
#   (permanent residence card).  Default: resident.
kind = resident
#                      resident  J   I
# name                       15  15  15  (I: the name in Chinese)
# latin-name                  -   -  60
# sex (1 male, 2 female)      1   1   1
# ethnic (2 digits)           2   -   -
# birth-date (YYYYMMDD)       8   8   8
# address                    35  35   -
# number                     18  18  15
# authority                  15  15   4  (I: the authority's code)
# valid-from (YYYYMMDD)       8   8   8
# valid-to (YYYYMMDD or text) 8   8   8
# nationality (I: 3 letters)  -   -   3
# card-version (2 digits)     -   -   2
# pass-number                 -   9   -
# issue-count (2 digits)      -   2   -
name = 林晓岚
sex = 2
ethnic = 01
birth-date = 19900307
address = 江苏省南京市鼓楼区示范路18号
number = 320106199003072026
authority = 南京市公安局鼓楼分局
valid-from = 20200115
valid-to = 20400115
# photo-length: bytes of the synthetic photo the module returns (0 to
#   1024).  Default: 1024.
photo-length = 1024

# ---------------------------------------------------------------------------
# A contactless memory card in the field (slot 02), driven by the reader's
# own commands 80 11 ..; not with a [card] in the field.  Every sector's
# keys A and B are 5E 3A 91 C7 24 8B unless "key" says otherwise; block N
# holds the bytes N*16 to N*16+15 unless given (hex, padded with 00).
# [memory-card]
# key = 5E 3A 91 C7 24 8B
# block 1 = 00 11 22 33 44 55 66 77 88 99 AA BB CC DD EE FF

# ---------------------------------------------------------------------------
# The card's payment application, found through the payment system
# environment "1PAY.SYS.DDF01": its FCI names the directory's short file
# identifier in tag 88, the directory's record 1 holds 70 / 61 / 4F with the
# application identifier, and a record of the application holds 70 / 5A,
# the account number.  Records before it hold other data; a record or file
# that is not there answers 6A 83 or 6A 82.
[payment]
# account-number: 1 to 19 digits, stored two per byte with a final F for
#   an odd number of digits.  Default: 6217000000000000042.
account-number = 6217000000000000042
# record, file: where the account number sits: record 1 to 255 of the
#   application's file with the short identifier 1 to 30 (the library
#   searches files 1 to 11).  Default: record 1 of file 1.
record = 2
file = 1
# aid: the application identifier, 5 to 16 bytes.
#   Default: F0 4B 45 53 54 52 45 4C 01.
aid = F0 4B 45 53 54 52 45 4C 01
# directory-file: the short identifier (1 to 30) of the directory that
#   tag 88 names.  Default: 1.
directory-file = 1
# leave-out: what the card lacks, any of: environment (selecting
#   "1PAY.SYS.DDF01" gets 6A 82), 88 (the environment's FCI names no
#   directory), 4F (the directory record names no application), 5A (the
#   application's record holds no account number); or none.  Default: none.
leave-out = none

# ---------------------------------------------------------------------------
# The purse of the card's debit application (DF04) and its transaction
# records (DF04 EF08, newest first).  A debit takes the sum of its amounts
# from the balance and adds a record; the file keeps the newest 30 (10 on
# a card of version 1).
[purse]
# balance: the amount on the card in fen.  Default: 0.
balance = 50000
# serial: the transaction serial of the next debit (0 to 65535).
#   Default: 1.
serial = 3
# key-version: the version of the PSAM purchase and TAC keys (types 4B
#   and 4C) that the card's keys are diversified from.  Default: 01.
key-version = 01
# algorithm-id: the algorithm identifier the card answers when a debit
#   starts.  Default: 00 on a card of algorithm 1, 04 on algorithm 2, 03
#   on algorithm 3 (the library sends the PSAM 04 for those).
# algorithm-id = 04
# record N: record N (1 the newest): the transaction serial (4 hex
#   digits), the terminal number (12 hex digits), the date and time (14
#   digits) and the three amounts in fen (none: no amount, FF FF FF FF).
record 1 = 0002 430105000007 20240315101500 0 1250 300
record 2 = 0001 430105000007 20240302160000 0 4500 none

# ---------------------------------------------------------------------------
# The QR-code scanner (slot 1C).  Leaving the section out leaves the slot
# empty.  vreader --scan and --scan-file give it codes to read before this
# one.
[scanner]
# code: what the scanner reads at every scan: text (its bytes as written),
#   hex: and up to 4094 bytes, or none: nothing to scan (a scan is then
#   answered 69 85).  Default: none.
code = KESTREL-QR-DEMO-0042
# mode: the mode byte the scanner reports: 00 automatic scanning, 01
#   scanning on command.  Default: 00.
mode = 00
# refuse: commands the scanner answers 6A 82, any of: auto, command (the
#   two mode settings), mode (the mode query), scan, led; or none.
#   Default: none.
refuse = none

# ---------------------------------------------------------------------------
# The magnetic-stripe head (slot 1A) and the card swiped through it.
# Leaving the section out leaves the slot empty.
[stripe]
# track1, track2, track3: the card's tracks, printable ASCII other than
#   "|", at most 79, 40 and 107 characters.  A track left out is missing;
#   with all three left out no card was swiped (the swipe is answered
#   69 85).
track1 = %B6217000000000000042^ZHANG/SAN^3403201000000000?
track2 = ;6217000000000000042=34032010000000000?
track3 = ;996217000000000000042=000000000000000000000000000000000000000000000000?
# tracks: the head's track setting, a mask of the tracks a read returns
#   (bit 0 track 1, bit 1 track 2, bit 2 track 3): 02, 03 or 06.  A read
#   returns each selected track followed by "|".  Default: 06.
tracks = 06
# refuse: commands the head answers 6A 82, any of: set (the track
#   setting), setting (its query), channel, swipe, read; or none.
#   Default: none.
refuse = none
# The reader's PIN keypad: what the holder types, one entry for each time
# the keypad asks (a PIN to verify; old, new and new again for a change;
# new and new again for a reload; or a host's text entry).  With nothing
# left to answer, an entry times out (69 02).  vreader --keypad adds
# entries after these.
[keypad]
# entries: words separated by blanks or commas, each one entry: the keys
#   typed (digits, or any printable characters for a text entry), timeout
#   (nothing typed), status:XXXX (the keypad refuses with that status
#   word), or hex:XX.. (an answer of exactly these data bytes; the keypad
#   frames typed keys with their count before them and 0D after them).
#   Default: none.  For a change of the PIN from 123456 to 654321:
# entries = 123456 654321 654321
