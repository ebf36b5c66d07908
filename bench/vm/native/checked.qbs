; 10^7 calls of the command "debugoutput" with the number 0: one argument
; read through the checkers, no result, and the last-error reset that every
; command but GetLastError gets.
.function main maxstack=8
    LOADK     1 #0              ; index, one step below the first value
    LOADK     2 #1e7
    LOADK     3 #1
    JMP       next
body:
    GETGLOBAL 4 "debugoutput"
    LOADK     5 #0
    CALL      4 2 1
    MOVE      0 1               ; as the twin keeps its counter
next:
    FORLOOP   1 body
    GETGLOBAL 4 "debugprint"
    LOADK     5 "checked"
    MOVE      6 0
    CALL      4 3 1
    RETURN    0 1
.end
