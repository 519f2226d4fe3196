// The version inquiry behind PXInquireUpdate: one version value read from a package or a camera,
// or the comparison of a package with a camera that classifies the update it would be.
//
// A package is a folder holding "version.ini" (one section per value, key "VALUE") and
// "FpgaRomInfo.txt" (the FPGA revision by the camera's sensor configuration). The camera's values
// come from its store through a CWServClient made for the call and destroyed at its end.
#pragma once

#include <cstdint>
#include <string>

// One side's versions as read (missing values stay 0).
struct VersionValues {
    int32_t osMajor = 0, osMinor = 0, osBuild = 0, osQfe = 0;
    int32_t qvlBuild[3] = {};        // imaging library build "%d.%d.%d"
    int32_t qvlSpRevision[3] = {};   // imaging library service pack revision "%d.%d.%d"
    int32_t qvlHotFix = 0;
    int32_t fpgaRevision = 0;
    int32_t bootRomVersion = 0;      // major * 65536 + minor
    int32_t bootRomBuild = 0;
    int32_t fsVersion[2] = {};       // Flowsmith agent major, minor
    int32_t fsBuild = 0, fsRevision = 0;
};

// The results of the comparison.
enum : uint32_t {
    kUpdateInstalled = 0,
    kUpdatePartialDowngrade = 1,
    kUpdatePartialUpgrade = 2,
    kUpdateCompleteDowngrade = 4,
    kUpdateCompleteUpgrade = 8,
    kUpdateNotComparable = 32,
};

// The error codes the inquiry writes.
enum : uint32_t {
    kUpdateErrorConnect = 0x801,
    kUpdateErrorNoFiles = 0x809,
};

// Classifies installing package on a camera that has camera.
uint32_t CompareVersions(const VersionValues& package, VersionValues camera);

// The "version.ini" section of an inquiry identifier; null for the two values that have none
// (the sensor configuration and the FPGA revision) and for identifiers that are no inquiry.
const char* VersionSection(uint32_t inquiry);
bool IsVersionInquiry(uint32_t inquiry);

// Reads up to count decimal numbers separated by dots the way "%d.%d.%d" scans them (blanks
// before each number, an optional sign, then digits; numbers wrap at 32 bits). Returns how many
// were read; the others are left as they are.
int ScanDottedDecimals(const std::string& text, int32_t* out, int count);
// "%08x": blanks, then at most eight characters of an optional "0x" and hexadecimal digits.
bool ScanHex8(const std::string& text, int32_t* out);

// PXInquireUpdate.
uint32_t InquireUpdate(const char* camera, const char* packageFolder, uint32_t inquiry, void* result);
