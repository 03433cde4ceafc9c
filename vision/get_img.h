// Camera capture through the external capture command.
#pragma once

// Runs "uvccapture -o<path> -x<width> -y<height>" through the shell, then
// sleeps 10 ms. 0 when the command reported success, -1 (and "Capture fail!!\n")
// when it failed or the command line would not fit 99 characters.
int get_img(const char* path, int width, int height);
