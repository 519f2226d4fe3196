// pellix-view's overlay script: the viewer control's overlay members, one call a line, read from
// a file so that a person can put graphics over the picture without writing a host program.
//
//   # comment lines start with '#'; blank lines are skipped
//   AddOverlayRect    -1  20  20 120  80  1 #FFFF00 none    0
//   AddOverlayEllipse -1 160  40 300 180  2 #FFFFFF #0000FF 0
//   AddOverlayLine    -1   0 200 319 200  1 #00FF00 0
//   AddOverlayPixel   -1  20 100 #FF0000 0
//   AddOverlayText    -1  20 140   0   0 #FF00FE none 16 0 "DejaVu Sans" "Overlay 123" 0
//
// A line names a member and gives all its arguments in the control's order, separated by blanks.
// A number is decimal (with a sign) or 0x hex of at most 32 bits; a colour is a number (the
// control's COLORREF, 0x00BBGGRR), #RRGGBB, or none (0xFFFFFFFF); a text is one word or a quoted
// string where \" and \\ stand for " and \. Coordinates are full-image pixels, as for a host.
// Parsing checks everything the control would refuse, so a script that parses is applied whole.
// Plain data, no threads.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace pxtool {

struct OverlayArgument {
    bool bText = false;
    int32_t value = 0;   // numbers and colours, the 32 bits the control receives
    std::string text;
};

struct OverlayCall {
    int line = 0;        // 1 for the file's first line
    std::string member;  // the control's member name, "AddOverlayRect"
    std::vector<OverlayArgument> arguments;
};

// The calls of a script's text in order, or false with "line N: what is wrong" in *error.
bool ParseOverlayScript(const std::string& text, std::vector<OverlayCall>* calls, std::string* error);

// Reads and parses the file; errors read "FILE:N: what is wrong" or "cannot read FILE: why".
bool ReadOverlayScript(const std::string& path, std::vector<OverlayCall>* calls, std::string* error);

// The members a script may name with their arguments, for --help: one line each,
// "  AddOverlayRect id x1 y1 x2 y2 width color bColor attribute".
std::string OverlayScriptMembers();

} // namespace pxtool
