# A card of version 1 with algorithm 1 (triple DES), whose file control
# information does not tell the algorithm: a host finds it from the region
# (not 11, so algorithm 1).  Region 33 shortens the city part of the
# diversification data to 330100.  The name fills all 30 bytes.
[reader]
device-number = KVR1-V1-000000000001

[card]
version = 1
version-text = 1.00
algorithm = 1
fci = neither
atr = 3B 6D 00 00 81 4B 45 53 53 43 00 00 00 00 01 01
region = 330102
card-type = 1
issue-date = 20150601
expiry-date = 20250601
card-number = A33000101

[holder]
social-security-number = 33010219700101001X
name = 欧阳一二三四五六七八九十甲乙丙
sex = 2
birth-date = 19700101

[keys]
seed = version one

[psam]
terminal-number = 33 01 02 00 00 11
