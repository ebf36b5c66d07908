; TextOut(#CENTER, #CENTER, text, #CENTER, 300): styled text in Vera Sans,
; anti-aliased with a shadow, wrapped at 300 pixels with each line centred,
; the block in the centre of display 1, which then waits for events until
; it is closed.
.function main maxstack=8
    GETGLOBAL 0 "setfont"
    LOADK 1 ":::default_sans"
    LOADK 2 #32
    CALL 0 3 1
    GETGLOBAL 0 "setfontstyle"
    LOADK 1 #16
    CALL 0 2 1
    GETGLOBAL 0 "setfontstyle"
    LOADK 1 #32
    LOADK 2 #0x303030
    LOADK 3 #3
    LOADK 4 #3
    CALL 0 5 1
    GETGLOBAL 0 "textout"
    LOADK 1 #-100000
    LOADK 2 #-100000
    LOADK 3 "[b]Hello[/b] [color=$FFCC00]world[/color], in [i]styled[/i] text from the [u]Quenbrook Player[/u]"
    LOADK 4 #-100000
    LOADK 5 #300
    CALL 0 6 1
wait:
    GETGLOBAL 0 "waitevent"
    CALL 0 1 1
    JMP wait
    RETURN 0 1 0
.end
