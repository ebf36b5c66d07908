; 10^7 calls of the command "getlasterror" without arguments, its result
; dropped: the whole cost of entering and leaving a native command.
.function main maxstack=8
    LOADK     1 #0              ; index, one step below the first value
    LOADK     2 #1e7
    LOADK     3 #1
    JMP       next
body:
    GETGLOBAL 4 "getlasterror"
    CALL      4 1 1
    MOVE      0 1               ; as the twin keeps its counter
next:
    FORLOOP   1 body
    GETGLOBAL 4 "debugprint"
    LOADK     5 "noop"
    MOVE      6 0
    CALL      4 3 1
    RETURN    0 1
.end
