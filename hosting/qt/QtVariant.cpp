#include "hosting/qt/QtVariant.h"

namespace pxqt {

using pxhost::HostValue;

HostValue ToHostValue(const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::Bool: return HostValue::Bool(value.toBool());
    case QMetaType::SChar:
    case QMetaType::Char: return HostValue::Of(PX_VT_I1, value.toInt());
    case QMetaType::UChar: return HostValue::Of(PX_VT_UI1, value.toInt());
    case QMetaType::Short: return HostValue::Of(PX_VT_I2, value.toInt());
    case QMetaType::UShort: return HostValue::Of(PX_VT_UI2, value.toInt());
    case QMetaType::Int:
    case QMetaType::Long: return HostValue::Of(PX_VT_I4, value.toLongLong());
    case QMetaType::UInt:
    case QMetaType::ULong: return HostValue::Of(PX_VT_UI4, value.toLongLong());
    case QMetaType::LongLong: return HostValue::Of(PX_VT_I8, value.toLongLong());
    case QMetaType::ULongLong: return HostValue::UI8(value.toULongLong());
    case QMetaType::Float: return HostValue::R4(value.toFloat());
    case QMetaType::Double: return HostValue::R8(value.toDouble());
    case QMetaType::QString: return HostValue::Text(value.toString().toStdString());
    case QMetaType::QByteArray: return HostValue::Text(value.toByteArray().toStdString());
    case QMetaType::QVariantList: {
        std::vector<HostValue> items;
        for (const QVariant& item : value.toList())
            items.push_back(ToHostValue(item));
        return HostValue::Array(std::move(items));
    }
    default: return HostValue();
    }
}

QVariant ToQVariant(const HostValue& value)
{
    switch (value.vt) {
    case PX_VT_I1: return QVariant::fromValue(static_cast<qint8>(value.llVal));
    case PX_VT_UI1: return QVariant::fromValue(static_cast<quint8>(value.ullVal));
    case PX_VT_I2: return QVariant::fromValue(static_cast<qint16>(value.llVal));
    case PX_VT_UI2: return QVariant::fromValue(static_cast<quint16>(value.ullVal));
    case PX_VT_I4:
    case PX_VT_INT: return QVariant::fromValue(static_cast<qint32>(value.llVal));
    case PX_VT_UI4:
    case PX_VT_UINT: return QVariant::fromValue(static_cast<quint32>(value.ullVal));
    case PX_VT_I8: return QVariant::fromValue(static_cast<qint64>(value.llVal));
    case PX_VT_UI8: return QVariant::fromValue(static_cast<quint64>(value.ullVal));
    case PX_VT_R4: return QVariant::fromValue(static_cast<float>(value.dblVal));
    case PX_VT_R8: return QVariant::fromValue(value.dblVal);
    case PX_VT_BOOL: return QVariant::fromValue(value.llVal != 0);
    case PX_VT_BSTR: return QVariant::fromValue(QString::fromStdString(value.strText));
    case PX_VT_ARRAY | PX_VT_VARIANT: {
        QVariantList items;
        for (const HostValue& item : value.items)
            items.push_back(ToQVariant(item));
        return items;
    }
    default: return QVariant();
    }
}

} // namespace pxqt
