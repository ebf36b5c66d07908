; Box, Circle, Ellipse, Arc and Polygon filled and anti-aliased, a one-pixel
; Line and a Box outlined by SetFillStyle(#FILLNONE, 4) in the window's
; picture; then, with layers on, a Box turned by 30 degrees (drawn anew
; under its turn, with a white border) and a Circle with a grey drop shadow.
; Then it waits for events until the window is closed.
.function main maxstack=9
    GETGLOBAL 0 "setfillstyle"
    LOADK 1 #1
    CALL 0 2 1
    GETGLOBAL 0 "setformstyle"
    LOADK 1 #16
    CALL 0 2 1
    GETGLOBAL 0 "box"
    LOADK 1 #40
    LOADK 2 #40
    LOADK 3 #120
    LOADK 4 #80
    LOADK 5 #13382451
    CALL 0 6 1
    GETGLOBAL 0 "circle"
    LOADK 1 #200
    LOADK 2 #40
    LOADK 3 #40
    LOADK 4 #3394611
    CALL 0 5 1
    GETGLOBAL 0 "ellipse"
    LOADK 1 #300
    LOADK 2 #50
    LOADK 3 #60
    LOADK 4 #30
    LOADK 5 #3368703
    CALL 0 6 1
    GETGLOBAL 0 "arc"
    LOADK 1 #440
    LOADK 2 #40
    LOADK 3 #40
    LOADK 4 #40
    LOADK 5 #0
    LOADK 6 #270
    LOADK 7 #16763904
    CALL 0 8 1
    GETGLOBAL 0 "polygon"
    LOADK 1 #540
    LOADK 2 #40
    NEWTABLE 3 6 0
    SETTABLE 3 #0 #0
    SETTABLE 3 #1 #80
    SETTABLE 3 #2 #40
    SETTABLE 3 #3 #0
    SETTABLE 3 #4 #80
    SETTABLE 3 #5 #80
    LOADK 4 #3
    LOADK 5 #13382604
    CALL 0 6 1
    GETGLOBAL 0 "setfillstyle"
    LOADK 1 #0
    LOADK 2 #4
    CALL 0 3 1
    GETGLOBAL 0 "line"
    LOADK 1 #40
    LOADK 2 #160
    LOADK 3 #600
    LOADK 4 #180
    LOADK 5 #3394764
    CALL 0 6 1
    GETGLOBAL 0 "box"
    LOADK 1 #40
    LOADK 2 #200
    LOADK 3 #120
    LOADK 4 #60
    LOADK 5 #16777215
    CALL 0 6 1
    GETGLOBAL 0 "setfillstyle"
    LOADK 1 #1
    CALL 0 2 1
    GETGLOBAL 0 "enablelayers"
    CALL 0 1 1
    GETGLOBAL 0 "box"
    LOADK 1 #240
    LOADK 2 #260
    LOADK 3 #160
    LOADK 4 #60
    LOADK 5 #13382451
    NEWTABLE 6 0 2
    SETTABLE 6 "rotate" #30
    CALL 0 7 1
    GETGLOBAL 0 "setlayerborder"
    LOADK 1 #1
    LOADK 2 #1
    LOADK 3 #16777215
    LOADK 4 #3
    CALL 0 5 1
    GETGLOBAL 0 "circle"
    LOADK 1 #480
    LOADK 2 #260
    LOADK 3 #60
    LOADK 4 #3394611
    CALL 0 5 1
    GETGLOBAL 0 "setlayershadow"
    LOADK 1 #2
    LOADK 2 #1
    LOADK 3 #8947848
    LOADK 4 #5
    LOADK 5 #12
    CALL 0 6 1
wait:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP wait
    RETURN 0 1 0
.end
