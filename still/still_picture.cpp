#include "still/still_picture.h"

void TakeStillPicture() {}
