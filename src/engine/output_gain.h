#pragma once
// The output gain: one factor by which every stream scales the captured
// audio. 1.0 at load; the window's volume controls set it (volume / 100,
// 0 while muted). Any thread may read or write it.
float outputGain();
void setOutputGain(float gain);
