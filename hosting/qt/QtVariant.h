// Values of the control's C interface as Qt values, through the host's own copy of a variant
// (pxhost::HostValue): what a caller passes to Invoke, and what a member or an event hands back.
#pragma once

#include <QVariant>

#include "hosting/HostValue.h"

namespace pxqt {

// bool, the integer types, float, double, QString, QByteArray and QVariantList (an array of
// variants); anything else, and an invalid QVariant, is EMPTY.
pxhost::HostValue ToHostValue(const QVariant& value);
// Each integer type as the Qt type of its width and sign, R4 as float, R8 as double, BOOL as
// bool, BSTR as QString, an array as QVariantList, EMPTY as an invalid QVariant.
QVariant ToQVariant(const pxhost::HostValue& value);

} // namespace pxqt
