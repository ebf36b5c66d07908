; 4 * 10^6 concatenations, each growing a line of numbers by one number and a
; comma; a line starts afresh every 10 numbers.
.function main maxstack=12
    LOADK     0 ""              ; line
    LOADK     1 ""              ; last full line
    LOADK     2 #0              ; full lines
    LOADK     3 #0
    LOADK     4 #4e6
    LOADK     5 #1
    JMP       next
body:
    MOVE      6 0               ; line = line .. i .. ","
    MOVE      7 3
    LOADK     8 ","
    CONCAT    0 6 8
    MOD       6 3 #10
    EQ        0 6 #0            ; line not full yet
    JMP       next
    MOVE      1 0
    LOADK     0 ""
    ADD       2 2 #1
next:
    FORLOOP   3 body
    GETGLOBAL 6 "debugprint"
    LOADK     7 "concat"
    MOVE      8 2
    MOVE      9 1
    CALL      6 4 1
    RETURN    0 1
.end
