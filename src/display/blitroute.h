// While a display adapter is installed, the fills and copies it draws itself
// go to it rather than to the pixel kernels.
#pragma once

void RouteBlitsThroughAdapter(bool on);
