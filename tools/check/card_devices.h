// Where the test card sits in the device lists the viewer shows.
#ifndef FERNWOOD_CHECK_CARD_DEVICES_H
#define FERNWOOD_CHECK_CARD_DEVICES_H

struct CardDevices {
    int video = -1;  // position in the video capture category, -1 when absent
    int audio = -1;  // position in the audio capture category, -1 when absent
};

// COM must be initialised on the calling thread.
CardDevices FindTestCard();

#endif
