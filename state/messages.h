// Every text the program shows in a message box, each kept once in one
// table: the guide explains each line of each, and the release's test holds
// the guide to the table. A %ls stands for what the message names (a path,
// a device, a format) or for a cause from the table.
#ifndef FERNWOODVIEW_MESSAGES_H
#define FERNWOODVIEW_MESSAGES_H

enum class Message {
    kSettingsNotSaved,
    kDirectShowMissing,
    kDirectX9Missing,
    kNoVideoDevice,
    kVideoDeviceNotOpened,
    kFormatNotOffered,
    kFormatStepFailed,
    kPreviewStepFailed,
    kRunStepFailed,
    kStreamingFailed,
    kDeviceInUse,
    kCameraPrivacy,
    kNoSuchFormat,
    kDeviceNotConnected,
    kDiskFull,
    kFileTooLarge,
    kErrorCodeWithText,
    kErrorCode,
    kDeviceUnplugged,
    kUnpluggedWhileRecording,
    kUnpluggedWhilePreviewing,
    kRecordPathTooLong,
    kMovieExists,
    kMovieNotCreated,
    kRecordNoDiskRoom,
    kRecordStartFailed,
    kCodecRefusesPicture,
    kMovieNotWritable,
    kFat32Warning,
    kSoundNotRecorded,
    kDropsNotReported,
    kStoppedOnDroppedFrame,
    kStoppedAtFat32Limit,
    kStoppedForDiskRoom,
    kRecordingFailedOnDisk,
    kRecordingFailed,
    kRepaired,
    kNotRepaired,
    kTimerIncomplete,
    kTimerNoSuchDate,
    kTimerPast,
    kTimerStopBeforeStart,
    kTimerSameTimes,
    kStillPathTooLong,
    kStillNoConverter,
    kStillNoGrabber,
    kStillNoPicture,
    kStillTooLarge,
    kStillWrongSize,
    kStillNoMemory,
    kStillNotSaved,
    kCount
};

const wchar_t* MessageText(Message id);

#endif
