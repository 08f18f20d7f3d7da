# A card of version 2 with algorithm 3 (SM4), a name longer than 30 bytes
# (continued in the name extension), a PSAM without terminal file in slot
# 12 and a reader that does not answer the device-number query.  (Its
# region is not 14, 15 or 35: a host takes cards of those regions whose
# version text begins with 2 for version-1 cards.)
[card]
version = 2
algorithm = 3
fci = indicator
atr = 3B 6D 00 00 81 4B 45 53 53 43 00 00 00 00 02 02
region = 370102
card-type = 3
issue-date = 20200101
expiry-date = 20300101
card-number = B37000202

[holder]
social-security-number = 370102199912310022
name = 阿卜杜热合曼·买买提依明·艾力
name-extension = 克木江
sex = 1

[keys]
seed = version two

[psam]
slot = 12
applications = 3
terminal-number = none
