; DisplayBrush(1, #CENTER, #CENTER): a PNG loaded into brush 1 and shown in
; the centre of display 1, which then waits for events until it is closed.
; The picture is read from the applet's folder.
.function main maxstack=6
    GETGLOBAL 0 "loadbrush"
    LOADK 1 #1
    LOADK 2 "brush.png"
    CALL 0 3 1
    GETGLOBAL 0 "displaybrush"
    LOADK 1 #1
    LOADK 2 #-100000
    LOADK 3 #-100000
    CALL 0 4 1
wait:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP wait
    RETURN 0 1 0
.end
