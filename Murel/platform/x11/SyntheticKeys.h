#pragma once

namespace murel::x11 {

// The key synthesizer announces every key event it is about to send through
// XTEST, so that the event tap does not take our own paste or copy keys for
// the user's. An announcement is forgotten after two seconds.
void announceSyntheticKeyEvent(int xKeycode, bool press);
// For the event tap: true, and the announcement is used up, when an event
// from the XTEST device was announced.
bool takeSyntheticKeyEvent(int xKeycode, bool press);

}  // namespace murel::x11
