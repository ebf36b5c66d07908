; 3 * 10^7 calls of the native command "getlasterror", which answers 0.
.function main maxstack=8
    LOADK     0 #0              ; s
    LOADK     1 #0
    LOADK     2 #3e7
    LOADK     3 #1
    JMP       next
body:
    GETGLOBAL 4 "getlasterror"  ; s = s + getlasterror() + 1
    CALL      4 1 2
    ADD       0 0 4
    ADD       0 0 #1
next:
    FORLOOP   1 body
    GETGLOBAL 4 "debugprint"
    LOADK     5 "native"
    MOVE      6 0
    CALL      4 3 1
    RETURN    0 1
.end
