// One-shot capture of the current frame to a BMP file.
#ifndef FERNWOODVIEW_STILL_PICTURE_H
#define FERNWOODVIEW_STILL_PICTURE_H

void TakeStillPicture();

// Where the last still's time went, in milliseconds, for measuring the
// command; steps that did not run stay 0.
struct StillStepTimes {
    double rewire;   // stop, reroute through the converter, add the grabber
    double settle;   // the graph run again, then the fixed pause
    double wait;     // until the grabber holds a frame
    double copies;   // the repeated copies of the current buffer
    double squeeze;  // 4:3 only
    double write;    // headers and pixels to the closed file
    double restore;  // preview graph back, running, window re-laid out
    double total;
};
extern StillStepTimes last_still_times;

#endif
