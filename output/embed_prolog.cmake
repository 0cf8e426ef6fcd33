# Turns the PostScript prolog into a list of byte values for the program to
# carry. The prolog is a text with a single carriage return at each line end,
# like every line of the art files it is copied into.
file(READ "${IN}" content)
string(REPLACE "\r\n" "\n" content "${content}")
string(REPLACE "\n" "\r" content "${content}")
file(WRITE "${OUT}.txt" "${content}")
file(READ "${OUT}.txt" hex HEX)
string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
file(WRITE "${OUT}" "${bytes}\n")
