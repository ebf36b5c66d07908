// Installs what the libraries below the anim library reach of anims (the
// anim library's Init calls it).
#pragma once

void InstallAnimHooks();
