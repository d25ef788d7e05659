#pragma once

// Makes the Windows-made forms look as intended elsewhere; does nothing on Windows.
// Call after the application object exists and before the first window is built.
//  - The forms name the font "微软雅黑", missing outside Windows: the lookup is pointed at a
//    CJK font Linux installs ship (WenQuanYi Micro Hei); the style sheets keep the name.
//  - The icon buttons' style "background-color:rgba(0,0,0,0);" means "no button face". The
//    Fusion style (the Linux default) paints that colour's panel opaque black; the Windows
//    style, like the native one the forms were drawn with, leaves it transparent.
void adaptLookToPlatform();
