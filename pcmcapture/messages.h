// pcmcapture's log: the tag and the text of every message. Each line is the level prefix
// "<level>/<tag>: " and then the text; the fixed texts get their line end from puts, the formats
// carry their own "\n".
#pragma once

namespace pcmlog {

const char kTag[] = "qvAudio_Test";

const char kMsgStart[] = "Audio capture start!";
const char kMsgFinish[] = "Audio capture finish!";
const char kMsgWrite[] = "write %x %x to file\n";
const char kMsgInitError[] = "qvAudio_OutInit Error!";
const char kMsgShortRead[] = "qvAudio_out fail to read! Ret = %d, PosBytes = %d \n";
const char kMsgShortReadToEnd[] = "qvAudio_out fail to read! Ret = %d, left_size = %d \n";
const char kMsgOpenFailed[] = "The device qvaudio_out cant't be opened!";
const char kMsgSize[] = "qvAudio_OutSize = 0x%x !\n";
const char kMsgThreadFailed[] = "Fail to create thread!";

}  // namespace pcmlog
