# Writes the patch update's fixture into OUT: update/UPDATE.INI and
# update/GAME.DAT (version 1.01), old/GAME.DAT (version 1.00). Run with
# cmake -DOUT=<folder> -P; the host qk2 then makes the updater from them.
string(REPEAT "stage data: the quick brown fox jumps over the lazy dog 0123456789\n" 3000 body)
set(v100 "HOSHI GAME.DAT version 1.00\n${body}")
set(v101 "HOSHI GAME.DAT version 1.01\n${body}a stretch added in 1.01\n")
file(WRITE ${OUT}/old/GAME.DAT "${v100}")
file(WRITE ${OUT}/update/GAME.DAT "${v101}")
file(WRITE ${OUT}/update/UPDATE.INI
  "[SETUP]\r\nCompanyName=Qk2Soft\r\nGameTitle=Game\r\nGameClass=TestGameClass\r\n"
  "GameDir=Qk2Game\r\nUpdaterVersion=2.0\r\n[UPDATE]\r\nUpdateFile00=GAME.DAT\r\n")
