// The DirectDraw probes behind IsATIMotionComp and IsInterleavedBob. Both
// answer 0 without DirectDraw.
#pragma once

// 1 when the display driver creates a 100 by 100 "MC12" YUV overlay in
// video memory.
int display_offers_motion_comp(void);

// 1 when the display driver's hardware capabilities carry
// DDCAPS2_CANBOBINTERLEAVED.
int display_bobs_interleaved(void);
