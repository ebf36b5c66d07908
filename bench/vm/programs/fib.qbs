; Recursive Fibonacci: about 30 million script-to-script calls.
.function main maxstack=8
    CLOSURE   0 fib
    MOVE      0 0               ; fib reaches itself through its upvalue
    MOVE      1 0
    LOADK     2 #35
    CALL      1 2 2
    GETGLOBAL 2 "debugprint"
    LOADK     3 "fib"
    MOVE      4 1
    CALL      2 3 1
    RETURN    0 1
  .function fib params=1 maxstack=4
  .upvalue fib
    LT        1 0 #2
    JMP       small
    GETUPVAL  1 0
    SUB       2 0 #1
    CALL      1 2 2
    GETUPVAL  2 0
    SUB       3 0 #2
    CALL      2 2 2
    ADD       1 1 2
    RETURN    1 2
small:
    RETURN    0 2
  .end
.end
