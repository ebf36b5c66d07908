; Reads and writes of string-keyed fields in a table's hash part.
.function main maxstack=12
    NEWTABLE  0 0 2
    SETTABLE  0 "x" #0
    SETTABLE  0 "y" #0
    SETTABLE  0 "z" #0
    SETTABLE  0 "w" #1
    LOADK     1 #0
    LOADK     2 #1.5e7
    LOADK     3 #1
    JMP       next
body:
    GETTABLE  4 0 "x"           ; p.x = p.x + p.w
    GETTABLE  5 0 "w"
    ADD       4 4 5
    SETTABLE  0 "x" 4
    GETTABLE  4 0 "y"           ; p.y = p.y + p.x * 0.5
    GETTABLE  5 0 "x"
    MUL       5 5 #0.5
    ADD       4 4 5
    SETTABLE  0 "y" 4
    GETTABLE  4 0 "y"           ; p.z = p.y - p.z
    GETTABLE  5 0 "z"
    SUB       4 4 5
    SETTABLE  0 "z" 4
next:
    FORLOOP   1 body
    GETGLOBAL 4 "debugprint"
    LOADK     5 "fields"
    GETTABLE  6 0 "x"
    GETTABLE  7 0 "y"
    GETTABLE  8 0 "z"
    CALL      4 5 1
    RETURN    0 1
.end
