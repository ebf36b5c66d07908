; A numeric loop of 10^8 steps with float arithmetic in registers.
.function main maxstack=10
    LOADK     0 #0              ; a
    LOADK     1 #0              ; b
    LOADK     2 #0              ; index, one step below the first value
    LOADK     3 #1e8
    LOADK     4 #1
    JMP       next
body:
    MUL       5 2 #0.5
    ADD       0 0 5
    SUB       1 1 2
next:
    FORLOOP   2 body
    GETGLOBAL 5 "debugprint"
    LOADK     6 "loop"
    MOVE      7 0
    MOVE      8 1
    CALL      5 4 1
    RETURN    0 1
.end
