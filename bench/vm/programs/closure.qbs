; A counter closure that reads and writes its upvalue, called 3 * 10^7 times.
.function main maxstack=12
    CLOSURE   0 counter
    MOVE      1 0
    CALL      1 1 2             ; c = counter()
    LOADK     2 #0              ; s
    LOADK     3 #0
    LOADK     4 #3e7
    LOADK     5 #1
    JMP       next
body:
    MOVE      6 1               ; s = s + c()
    CALL      6 1 2
    ADD       2 2 6
next:
    FORLOOP   3 body
    MOVE      6 1
    CALL      6 1 2
    GETGLOBAL 7 "debugprint"
    LOADK     8 "closure"
    MOVE      9 2
    MOVE      10 6
    CALL      7 4 1
    RETURN    0 1
  .function counter maxstack=4
    LOADK     0 #0              ; n
    CLOSURE   1 inc
    MOVE      0 0
    RETURN    1 2
    .function inc maxstack=2
    .upvalue n
      GETUPVAL  0 0
      ADD       0 0 #1
      SETUPVAL  0 0
      RETURN    0 2
    .end
  .end
.end
