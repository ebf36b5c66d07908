; The picture of brush.png in the middle of the window; each press of an
; arrow key moves it 10 pixels that way, and Escape ends the applet.
; Layers are off, so DisplayBrush paints into the display's picture: brush 2,
; a brush of the background colour as big as the window, paints over the
; picture's old place before it is drawn at the new one.
.function main maxstack=8
    GETGLOBAL 0 "loadbrush"         ; brush 1: the picture, 160 x 100
    LOADK     1 #1
    LOADK     2 "brush.png"
    CALL      0 3 1
    GETGLOBAL 0 "createbrush"       ; brush 2: 640 x 480 of $203040
    LOADK     1 #2
    LOADK     2 #640
    LOADK     3 #480
    LOADK     4 #0x203040
    CALL      0 5 1

; The picture's top left corner: globals that the key handler changes.
    LOADK     0 #240
    SETGLOBAL 0 "picx"
    LOADK     0 #190
    SETGLOBAL 0 "picy"

; InstallEventHandler({onkeydown = onkeydown}), then the first picture.
    CLOSURE   0 redraw
    SETGLOBAL 0 "redraw"
    GETGLOBAL 0 "installeventhandler"
    NEWTABLE  1 0 1
    CLOSURE   2 onkeydown
    SETTABLE  1 "onkeydown" 2
    CALL      0 2 1
    GETGLOBAL 0 "redraw"
    CALL      0 1 1

; The handler runs while WaitEvent waits.
wait:
    GETGLOBAL 0 "waitevent"
    CALL      0 1 1
    JMP       wait

; redraw(): the background over everything, then the picture at picx, picy.
.function redraw
    GETGLOBAL 0 "displaybrush"
    LOADK     1 #2
    LOADK     2 #0
    LOADK     3 #0
    CALL      0 4 1
    GETGLOBAL 0 "displaybrush"
    LOADK     1 #1
    GETGLOBAL 2 "picx"
    GETGLOBAL 3 "picy"
    CALL      0 4 1
    RETURN    0 1
.end

; onkeydown(message): the message's field "key" names the key ("RIGHT",
; "ESC"; the names are in docs/commands.md).
.function onkeydown params=1
    GETTABLE  1 0 "key"
    EQ        1 1 "ESC"             ; equal: take the JMP
    JMP       quit
    GETGLOBAL 2 "picx"
    GETGLOBAL 3 "picy"
    EQ        1 1 "RIGHT"
    JMP       right
    EQ        1 1 "LEFT"
    JMP       left
    EQ        1 1 "DOWN"
    JMP       down
    EQ        1 1 "UP"
    JMP       up
    RETURN    0 1                   ; other keys leave the picture alone
right:
    ADD       2 2 #10
    JMP       moved
left:
    SUB       2 2 #10
    JMP       moved
down:
    ADD       3 3 #10
    JMP       moved
up:
    SUB       3 3 #10
moved:
    SETGLOBAL 2 "picx"
    SETGLOBAL 3 "picy"
    GETGLOBAL 4 "redraw"
    CALL      4 1 1
    RETURN    0 1
quit:
    GETGLOBAL 2 "end"
    CALL      2 1 1
    RETURN    0 1
.end

    RETURN    0 1
.end
