; 10^7 short-lived tables of four fields each; only the last one is kept.
.function main maxstack=8
    LOADNIL   0 0               ; the last table
    LOADK     1 #0
    LOADK     2 #1e7
    LOADK     3 #1
    JMP       next
body:
    NEWTABLE  0 0 3             ; eight hash slots, as the compiler sizes four fields
    SETTABLE  0 "x" 1
    SETTABLE  0 "y" 1
    SETTABLE  0 "z" 1
    SETTABLE  0 "w" 1
next:
    FORLOOP   1 body
    GETGLOBAL 4 "debugprint"
    LOADK     5 "churn"
    GETTABLE  6 0 "x"
    GETTABLE  7 0 "w"
    ADD       6 6 7
    CALL      4 3 1
    RETURN    0 1
.end
