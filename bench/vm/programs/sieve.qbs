; Sieve of Eratosthenes over the array part of one table.
.function main maxstack=14
    NEWTABLE  0 0 0             ; flags[1 .. N]
    LOADK     1 #0
    LOADK     2 #1e7
    LOADK     3 #1
    JMP       fillnext
fill:
    SETTABLE  0 1 #1
fillnext:
    FORLOOP   1 fill
    LOADK     4 #0              ; primes found
    LOADK     5 #1              ; i from 2
    LOADK     6 #1e7
    LOADK     7 #1
    JMP       outernext
outer:
    GETTABLE  8 0 5
    EQ        0 8 #1            ; crossed out: on to the next i
    JMP       outernext
    ADD       4 4 #1
    MUL       9 5 5             ; j from i * i in steps of i
    SUB       9 9 5
    LOADK     10 #1e7
    MOVE      11 5
    JMP       innernext
inner:
    SETTABLE  0 9 #0
innernext:
    FORLOOP   9 inner
outernext:
    FORLOOP   5 outer
    GETGLOBAL 8 "debugprint"
    LOADK     9 "sieve"
    MOVE      10 4
    CALL      8 3 1
    RETURN    0 1
.end
