#include "update/UpdateErrors.h"

const char* UpdateErrorText(int code)
{
    static const struct {
        int code;
        const char* text;
    } kTexts[] = {
        {16, "Error: QVL application still running"},
        {128, "Error: during BootRom burning"},
        {160, "Error: during OS update"},
        {176, "Error: during CeDisk update"},
        {192, "Error: during FPGA burning"},
        {208, "Error: erasing persistent registry"},
        {257, "Error: during Power Cycle, Must Power Cycle Manually"},
        {272, "Error: during partition format"},
        {512, "Error: Not Enough RAM to run update"},
        {513, "Error: cannot downgrade to this version with current hardware."},
        {0x801, "Error: connecting to Kelvo"},
        {0x802, "Error: connection time out"},
        {0x803, "Error: cleaning RamFiles directory on the Kelvo"},
        {0x804, "Error: adjusting RamFiles directory size on the Kelvo"},
        {0x805, "Error: copying files"},
        {0x806, "Error: starting update process"},
        {0x807, "Error: update time out"},
        {0x808, "Error: impossible to get version"},
        {0x809, "Error: Files not found in directory"},
        {0x80A, "Error: QVL application still running"},
        {0x80B, "Error: cannot install this version on current hardware."},
    };
    for (const auto& t : kTexts)
        if (t.code == code)
            return t.text;
    return nullptr;
}
