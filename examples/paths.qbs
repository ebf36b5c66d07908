; A star built with MoveTo and LineTo, filled and anti-aliased with a green
; edge and a grey shadow, drawn by DrawPath in the centre of the window; a
; curve stroked 5 pixels wide with round joins; then, with layers on, the
; star again as a layer of its own. Then it waits for events until the
; window is closed.
.function main maxstack=9
    GETGLOBAL 0 "setfillstyle"
    LOADK 1 #1
    CALL 0 2 1
    GETGLOBAL 0 "setformstyle"
    LOADK 1 #16
    CALL 0 2 1
    GETGLOBAL 0 "setformstyle"
    LOADK 1 #64
    LOADK 2 #2271778
    LOADK 3 #3
    CALL 0 4 1
    GETGLOBAL 0 "setformstyle"
    LOADK 1 #32
    LOADK 2 #8947848
    LOADK 3 #6
    LOADK 4 #3
    CALL 0 5 1
    GETGLOBAL 0 "startpath"
    LOADK 1 #1
    CALL 0 2 1
    GETGLOBAL 0 "moveto"
    LOADK 1 #1
    LOADK 2 #100
    LOADK 3 #0
    CALL 0 4 1
    GETGLOBAL 0 "lineto"
    LOADK 1 #1
    LOADK 2 #123.51
    LOADK 3 #67.64
    CALL 0 4 1
    GETGLOBAL 0 "lineto"
    LOADK 1 #1
    LOADK 2 #195.11
    LOADK 3 #69.1
    CALL 0 4 1
    GETGLOBAL 0 "lineto"
    LOADK 1 #1
    LOADK 2 #138.04
    LOADK 3 #112.36
    CALL 0 4 1
    GETGLOBAL 0 "lineto"
    LOADK 1 #1
    LOADK 2 #158.78
    LOADK 3 #180.9
    CALL 0 4 1
    GETGLOBAL 0 "lineto"
    LOADK 1 #1
    LOADK 2 #100
    LOADK 3 #140
    CALL 0 4 1
    GETGLOBAL 0 "lineto"
    LOADK 1 #1
    LOADK 2 #41.22
    LOADK 3 #180.9
    CALL 0 4 1
    GETGLOBAL 0 "lineto"
    LOADK 1 #1
    LOADK 2 #61.96
    LOADK 3 #112.36
    CALL 0 4 1
    GETGLOBAL 0 "lineto"
    LOADK 1 #1
    LOADK 2 #4.89
    LOADK 3 #69.1
    CALL 0 4 1
    GETGLOBAL 0 "lineto"
    LOADK 1 #1
    LOADK 2 #76.49
    LOADK 3 #67.64
    CALL 0 4 1
    GETGLOBAL 0 "closepath"
    LOADK 1 #1
    CALL 0 2 1
    GETGLOBAL 0 "drawpath"
    LOADK 1 #1
    LOADK 2 #-100000
    LOADK 3 #-100000
    LOADK 4 #14496546
    CALL 0 5 1
    GETGLOBAL 0 "setformstyle"
    LOADK 1 #1
    CALL 0 2 1
    GETGLOBAL 0 "setformstyle"
    LOADK 1 #16
    CALL 0 2 1
    GETGLOBAL 0 "setfillstyle"
    LOADK 1 #0
    LOADK 2 #5
    CALL 0 3 1
    GETGLOBAL 0 "setlinejoin"
    LOADK 1 #1
    CALL 0 2 1
    GETGLOBAL 0 "startpath"
    LOADK 1 #2
    CALL 0 2 1
    GETGLOBAL 0 "moveto"
    LOADK 1 #2
    LOADK 2 #40
    LOADK 3 #400
    CALL 0 4 1
    GETGLOBAL 0 "curveto"
    LOADK 1 #2
    LOADK 2 #120
    LOADK 3 #300
    LOADK 4 #200
    LOADK 5 #500
    LOADK 6 #280
    LOADK 7 #400
    CALL 0 8 1
    GETGLOBAL 0 "curveto"
    LOADK 1 #2
    LOADK 2 #330
    LOADK 3 #340
    LOADK 4 #360
    LOADK 5 #460
    LOADK 6 #420
    LOADK 7 #380
    CALL 0 8 1
    GETGLOBAL 0 "drawpath"
    LOADK 1 #2
    LOADK 2 #0
    LOADK 3 #0
    LOADK 4 #3368652
    CALL 0 5 1
    GETGLOBAL 0 "setfillstyle"
    LOADK 1 #1
    CALL 0 2 1
    GETGLOBAL 0 "enablelayers"
    CALL 0 1 1
    GETGLOBAL 0 "drawpath"
    LOADK 1 #1
    LOADK 2 #420
    LOADK 3 #240
    LOADK 4 #16763904
    CALL 0 5 1
wait:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP wait
    RETURN 0 1 0
.end
