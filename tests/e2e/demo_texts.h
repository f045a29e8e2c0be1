// What the demo writes on its console, to the byte.
#pragma once

#include <string>

namespace e2e {

inline const std::string kInstructions =
    "This demo demonstrates the\r\n"
    "translucency/texture/gouraud shading capabilities\r\n"
    "of your 3D card, to move the transparent triangle\r\n"
    "use the f,g,h,b keys, to change the opacity of the\r\n"
    "translucent triangle use the o,p keys,\r\n"
    "to quit press esc.\r\n"
    "Press any key to continue";
inline const std::string kNoHardware = "Error! No 3D hardware!";
inline const std::string kNoVideoMode =
    "Error! Couldn't set 3D videomode, you need a 3D accelerator board to run this demo!";
inline const std::string kNoTexture = "Couldn't load tex.3df file!";

}  // namespace e2e
