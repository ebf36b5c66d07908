; The picture of brush.png slides across the window, one frame at a time.
; BeginDoubleBuffer sends all drawing into a buffer the window does not
; show; Flip shows what changed since the last Flip at once, after the
; vertical blank; EndDoubleBuffer keeps the last frame and draws straight
; into the window again. Without it the window would show each frame half
; drawn: the background over the old picture, before the new one.
.function main maxstack=8
    GETGLOBAL 0 "loadbrush"         ; brush 1: the picture, 160 x 100
    LOADK     1 #1
    LOADK     2 "brush.png"
    CALL      0 3 1
    GETGLOBAL 0 "createbrush"       ; brush 2: the background, 640 x 480
    LOADK     1 #2
    LOADK     2 #640
    LOADK     3 #480
    LOADK     4 #0x203040
    CALL      0 5 1
    GETGLOBAL 0 "begindoublebuffer"
    CALL      0 1 1
    LOADK     0 #0
    SETGLOBAL 0 "x"
; One frame: the background, the picture at x, then Flip().
frame:
    GETGLOBAL 0 "displaybrush"
    LOADK     1 #2
    LOADK     2 #0
    LOADK     3 #0
    CALL      0 4 1
    GETGLOBAL 0 "displaybrush"
    LOADK     1 #1
    GETGLOBAL 2 "x"
    LOADK     3 #190
    CALL      0 4 1
    GETGLOBAL 0 "flip"
    CALL      0 1 1
    GETGLOBAL 0 "x"
    ADD       0 0 #4
    SETGLOBAL 0 "x"
    LT        1 0 #481              ; x < 481: take the JMP
    JMP       frame
    GETGLOBAL 0 "enddoublebuffer"
    CALL      0 1 1
wait:
    GETGLOBAL 0 "waitevent"
    CALL      0 1 1
    JMP       wait
    RETURN    0 1 0
.end
