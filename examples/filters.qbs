; DisplayBrush(1, x, y, {filters = {{name = "blur", args = {3}},
; {name = "sepiatone"}}}): brush.png shown as it is on the left and
; blurred and sepia-toned on the right; the brush itself stays unchanged.
; Then it waits for events until the window is closed.
.function main maxstack=9
    GETGLOBAL 0 "loadbrush"
    LOADK 1 #1
    LOADK 2 "brush.png"
    CALL 0 3 1
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #120
    LOADK 3 #190
    CALL 0 4 1
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #360
    LOADK 3 #190
    NEWTABLE 4 0 1
    NEWTABLE 5 2 0
    NEWTABLE 6 0 2
    SETTABLE 6 "name" "blur"
    NEWTABLE 7 1 0
    SETTABLE 7 #0 #3
    SETTABLE 6 "args" 7
    SETTABLE 5 #0 6
    NEWTABLE 6 0 1
    SETTABLE 6 "name" "sepiatone"
    SETTABLE 5 #1 6
    SETTABLE 4 "filters" 5
    CALL 0 5 1
wait:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP wait
    RETURN 0 1 0
.end
