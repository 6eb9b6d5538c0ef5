// One-shot capture of the current frame to a BMP file.
#ifndef FERNWOODVIEW_STILL_PICTURE_H
#define FERNWOODVIEW_STILL_PICTURE_H

void TakeStillPicture();

#endif
