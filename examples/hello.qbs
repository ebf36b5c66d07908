; The bundled example: greets, then sums 1..1000000 in a numeric loop and prints
; the sum (500000500000). An error names the line of this file it stands on.
.function main maxstack=6
    GETGLOBAL 0 "debugprint"
    LOADK     1 "Hello from Quenbrook!"
    CALL      0 2 1             ; one argument, no results

; R0 sum, R1 index, R2 limit, R3 step. FORLOOP adds the step before testing,
; so the index starts one step below the first value.
    LOADK     0 #0
    LOADK     1 #0
    LOADK     2 #1000000
    LOADK     3 #1
    JMP       next
body:
    ADD       0 0 1
next:
    FORLOOP   1 body

    GETGLOBAL 4 "debugprint"
    MOVE      5 0
    CALL      4 2 1
    RETURN    0 1               ; C = 0: a real return, not the end of a gosub
.end
