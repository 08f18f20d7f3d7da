# A card of version 3 with algorithm 2 (SM4), told by a tag 86 in the file
# control information.  On this version the holder's file EF06 may be read
# only after an external authentication with key 0A.
[reader]
device-number = hex:4B 56 52 31 2D 56 33 00 00 00 00 00 00 00 00 00 00 00 00 01

[card]
version = 3
algorithm = 2
fci = tag86
atr = 3B 6D 00 00 81 4B 45 53 53 43 00 00 00 00 03 03
region = 110105
card-type = 3
issue-date = 20250101
expiry-date = 20350101
card-number = C11000303

[holder]
social-security-number = 110105200001010033
name = 李四
sex = 2

[keys]
seed = version three

[psam]
terminal-number = 11 01 05 00 00 33
