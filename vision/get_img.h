// Camera capture through the external capture command.
#pragma once

// Runs "uvccapture -o<path> -x<width> -y<height>" through the shell, then
// sleeps 10 ms. 0 when the command reported success, -1 (and "Capture fail!!\n")
// when it failed. A command line that would not fit 99 characters, or a path
// holding characters the shell would interpret, is not run: a line saying why,
// then "Capture fail!!\n", and -1.
int get_img(const char* path, int width, int height);
