#include "update/SoapMessage.h"

#include <cstring>
#include <new>
#include <pugixml.hpp>
#include <sstream>

namespace {

constexpr const char* kXsiNamespace = "http://www.w3.org/2001/XMLSchema-instance";
constexpr const char* kXsdNamespace = "http://www.w3.org/2001/XMLSchema";

const WsdlPart* RequestPart(const WsdlOperation& op, int32_t index)
{
    for (const WsdlPart& p : op.parts)
        if (!p.bOutput && p.lCallIndex == index)
            return &p;
    return nullptr;
}

const WsdlPart* ResultPart(const WsdlOperation* op)
{
    if (op != nullptr)
        for (const WsdlPart& p : op->parts)
            if (p.bOutput && p.lCallIndex == kWsdlResultIndex)
                return &p;
    return nullptr;
}

bool Named(const pugi::xml_node& node, const char* localName)
{
    return node.type() == pugi::node_element && std::strcmp(XmlLocalName(node.name()), localName) == 0;
}

pugi::xml_node FirstElement(const pugi::xml_node& parent)
{
    for (pugi::xml_node n : parent.children())
        if (n.type() == pugi::node_element)
            return n;
    return {};
}

pugi::xml_node ChildNamed(const pugi::xml_node& parent, const char* localName)
{
    for (pugi::xml_node n : parent.children())
        if (Named(n, localName))
            return n;
    return {};
}

// A prefixed attribute of that local name ("xsi:type", "xsi:nil").
pugi::xml_attribute PrefixedAttribute(const pugi::xml_node& node, const char* localName)
{
    for (pugi::xml_attribute a : node.attributes())
        if (std::strchr(a.name(), ':') != nullptr && std::strcmp(XmlLocalName(a.name()), localName) == 0)
            return a;
    return {};
}

SoapValue TypedValue(const pugi::xml_node& element, const WsdlPart* result)
{
    const pugi::xml_attribute nil = PrefixedAttribute(element, "nil");
    if (nil && (std::strcmp(nil.value(), "true") == 0 || std::strcmp(nil.value(), "1") == 0))
        return {};
    const pugi::xml_attribute type = PrefixedAttribute(element, "type");
    const uint16_t vt = type ? XsdTypeToVariant(type.value()) : result != nullptr ? result->vtType : uint16_t{VT_BSTR};
    const char* text = element.text().get();
    if (vt == VT_BOOL) {
        if (std::strcmp(text, "true") == 0)
            return SoapValue::Integer(1);
        if (std::strcmp(text, "false") == 0)
            return SoapValue::Integer(0);
    }
    if (vt == VT_VARIANT || vt == VT_BSTR)
        return SoapValue::Text(text);
    SoapValue typed;
    if (!SoapConvert(SoapValue::Text(text), vt, &typed))
        return {};
    return typed;
}

} // namespace

bool BuildSoapRequest(const WsdlOperation* op, const SoapValue* args, size_t count, std::string* body)
{
    if (op == nullptr)
        return false;
    try {
        pugi::xml_document doc;
        pugi::xml_node decl = doc.append_child(pugi::node_declaration);
        decl.append_attribute("version") = "1.0";
        decl.append_attribute("encoding") = "UTF-8";
        pugi::xml_node envelope = doc.append_child("SOAP-ENV:Envelope");
        envelope.append_attribute("xmlns:SOAP-ENV") = kSoapEnvelopeNamespace;
        envelope.append_attribute("xmlns:xsi") = kXsiNamespace;
        envelope.append_attribute("xmlns:xsd") = kXsdNamespace;
        pugi::xml_node call = envelope.append_child("SOAP-ENV:Body").append_child(("SOAPSDK1:" + op->strName).c_str());
        call.append_attribute("xmlns:SOAPSDK1") = kSoapMessageNamespace;
        for (size_t i = 0; i < count; ++i) {
            const WsdlPart* part = RequestPart(*op, static_cast<int32_t>(i));
            SoapValue value;
            if (part == nullptr || !SoapConvert(args[i], part->vtType, &value) || value.IsEmpty())
                return false;
            pugi::xml_node element = call.append_child(part->strElementName.c_str());
            // A part of any type says which one it carries.
            if (part->vtType == VT_VARIANT)
                element.append_attribute("xsi:type") = value.kind == SoapValue::Kind::Integer ? "xsd:int" : "xsd:string";
            element.text().set(value.ToText().c_str());
        }
        std::ostringstream out;
        doc.save(out, "", pugi::format_raw, pugi::encoding_utf8);
        *body = out.str();
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

SoapValue ReadSoapResponse(const char* data, size_t size, const WsdlOperation* op)
{
    if (data == nullptr || size == 0 || size > kSoapMaxResponseBytes)
        return {};
    try {
        pugi::xml_document doc;
        if (!doc.load_buffer(data, size, pugi::parse_default, pugi::encoding_auto))
            return {};
        const pugi::xml_node envelope = doc.document_element();
        if (!Named(envelope, "Envelope"))
            return {};
        const pugi::xml_node response = FirstElement(ChildNamed(envelope, "Body"));
        if (!response || Named(response, "Fault"))
            return {};
        const WsdlPart* result = ResultPart(op);
        pugi::xml_node element;
        if (result != nullptr)
            element = ChildNamed(response, result->strElementName.c_str());
        if (!element)
            element = FirstElement(response);
        if (!element)
            return {};
        return TypedValue(element, result);
    } catch (const std::bad_alloc&) {
        return {};
    }
}
