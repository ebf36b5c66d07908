; Method calls obj:add(i) through a table field, 2 * 10^7 times.
.function main maxstack=10
    NEWTABLE  0 0 1
    SETTABLE  0 "n" #0
    CLOSURE   1 add
    SETTABLE  0 "add" 1
    LOADK     1 #0
    LOADK     2 #2e7
    LOADK     3 #1
    JMP       next
body:
    SELF      4 0 "add"
    MOVE      6 1
    CALL      4 3 1
next:
    FORLOOP   1 body
    GETGLOBAL 4 "debugprint"
    LOADK     5 "method"
    GETTABLE  6 0 "n"
    CALL      4 3 1
    RETURN    0 1
  .function add params=2 maxstack=4
    GETTABLE  2 0 "n"           ; self.n = self.n + x
    ADD       2 2 1
    SETTABLE  0 "n" 2
    RETURN    0 1
  .end
.end
