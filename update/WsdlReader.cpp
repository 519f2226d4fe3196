#include "update/WsdlReader.h"

#include <cstring>
#include <map>
#include <new>
#include <pugixml.hpp>

#include "update/SoapValue.h"

namespace {

bool Named(const pugi::xml_node& node, const char* localName)
{
    return node.type() == pugi::node_element && std::strcmp(XmlLocalName(node.name()), localName) == 0;
}

// Children of the definitions element by their name attribute; the first of a name wins.
using NodeMap = std::map<std::string, pugi::xml_node>;

void Index(const pugi::xml_node& root, const char* localName, NodeMap* out)
{
    for (pugi::xml_node n : root.children())
        if (Named(n, localName))
            out->emplace(n.attribute("name").value(), n);
}

bool Find(const NodeMap& map, const char* qualifiedRef, pugi::xml_node* out)
{
    const auto it = map.find(XmlLocalName(qualifiedRef));
    if (it == map.end())
        return false;
    *out = it->second;
    return true;
}

pugi::xml_node Child(const pugi::xml_node& parent, const char* localName)
{
    for (pugi::xml_node n : parent.children())
        if (Named(n, localName))
            return n;
    return {};
}

bool ShortEnough(const char* text) { return std::strlen(text) <= kWsdlMaxName; }

// The names of parameterOrder, in order.
std::vector<std::string> ParameterOrder(const char* text)
{
    std::vector<std::string> names;
    std::string name;
    for (const char* p = text;; ++p) {
        if (*p == '\0' || *p == ' ' || *p == '\t' || *p == '\n' || *p == '\r') {
            if (!name.empty())
                names.push_back(name);
            name.clear();
            if (*p == '\0')
                return names;
        } else {
            name += *p;
        }
    }
}

int32_t OrderIndex(const std::vector<std::string>& order, const std::string& name)
{
    for (size_t i = 0; i < order.size(); ++i)
        if (order[i] == name)
            return static_cast<int32_t>(i);
    return -1;
}

// Adds the parts of one message; false on a part beyond the limits.
bool AddParts(const pugi::xml_node& message, bool output, const std::vector<std::string>& order, int32_t* nextIndex,
              bool* resultTaken, WsdlOperation* op)
{
    for (pugi::xml_node part : message.children()) {
        if (!Named(part, "part"))
            continue;
        if (op->parts.size() >= kWsdlMaxParts)
            return false;
        WsdlPart p;
        p.bOutput = output;
        const char* name = part.attribute("name").value();
        const pugi::xml_attribute element = part.attribute("element");
        // A document-style part is written as its element; an RPC part under its own name.
        p.strElementName = element ? XmlLocalName(element.value()) : name;
        p.vtType = element ? uint16_t{VT_VARIANT} : XsdTypeToVariant(part.attribute("type").value());
        if (!ShortEnough(name) || p.strElementName.size() > kWsdlMaxName)
            return false;
        const int32_t ordered = OrderIndex(order, name);
        if (ordered >= 0) {
            p.lCallIndex = ordered;
        } else if (output && !*resultTaken) {
            p.lCallIndex = kWsdlResultIndex;
            *resultTaken = true;
        } else {
            p.lCallIndex = (*nextIndex)++;
        }
        op->parts.push_back(std::move(p));
    }
    return true;
}

bool ReadOperation(const pugi::xml_node& bindingOp, const pugi::xml_node& portType, const NodeMap& messages,
                   WsdlOperation* op)
{
    op->strName = bindingOp.attribute("name").value();
    op->strSoapAction = Child(bindingOp, "operation").attribute("soapAction").value();
    if (!ShortEnough(op->strName.c_str()) || op->strSoapAction.size() > kWsdlMaxName)
        return false;
    pugi::xml_node abstract;
    for (pugi::xml_node n : portType.children())
        if (Named(n, "operation") && op->strName == n.attribute("name").value()) {
            abstract = n;
            break;
        }
    if (!abstract)
        return false;
    const std::vector<std::string> order = ParameterOrder(abstract.attribute("parameterOrder").value());
    if (order.size() > kWsdlMaxParts)
        return false;
    // Parts that parameterOrder does not name come after the ones it does.
    int32_t nextIndex = static_cast<int32_t>(order.size());
    bool resultTaken = false;
    for (const char* kind : {"input", "output"}) {
        const pugi::xml_node io = Child(abstract, kind);
        if (!io)
            continue;
        pugi::xml_node message;
        if (!Find(messages, io.attribute("message").value(), &message))
            return false;
        if (!AddParts(message, kind[0] == 'o', order, &nextIndex, &resultTaken, op))
            return false;
    }
    return true;
}

bool Walk(const pugi::xml_node& root, std::vector<WsdlOperation>* table)
{
    NodeMap messages, portTypes, bindings;
    Index(root, "message", &messages);
    Index(root, "portType", &portTypes);
    Index(root, "binding", &bindings);
    for (pugi::xml_node service : root.children()) {
        if (!Named(service, "service"))
            continue;
        for (pugi::xml_node port : service.children()) {
            if (!Named(port, "port"))
                continue;
            pugi::xml_node binding, portType;
            if (!Find(bindings, port.attribute("binding").value(), &binding) ||
                !Find(portTypes, binding.attribute("type").value(), &portType))
                return false;
            for (pugi::xml_node bindingOp : binding.children()) {
                if (!Named(bindingOp, "operation"))
                    continue;
                if (table->size() >= kWsdlMaxOperations)
                    return false;
                WsdlOperation op;
                if (!ReadOperation(bindingOp, portType, messages, &op))
                    return false;
                table->push_back(std::move(op));
            }
        }
    }
    return true;
}

} // namespace

const char* XmlLocalName(const char* qualifiedName)
{
    const char* colon = std::strrchr(qualifiedName, ':');
    return colon != nullptr ? colon + 1 : qualifiedName;
}

uint16_t XsdTypeToVariant(const char* qualifiedName)
{
    static const struct {
        const char* name;
        uint16_t vt;
    } kTypes[] = {
        {"int", VT_I4},           {"integer", VT_I4},   {"long", VT_I4},         {"short", VT_I2},
        {"byte", VT_I1},          {"unsignedInt", VT_UI4}, {"unsignedShort", VT_UI2}, {"unsignedByte", VT_UI1},
        {"boolean", VT_BOOL},     {"string", VT_BSTR},  {"anyType", VT_VARIANT}, {"ur-type", VT_VARIANT},
    };
    const char* local = XmlLocalName(qualifiedName);
    for (const auto& t : kTypes)
        if (std::strcmp(local, t.name) == 0)
            return t.vt;
    return VT_BSTR;
}

bool ReadWsdl(const char* data, size_t size, std::vector<WsdlOperation>* table)
{
    if (data == nullptr || size == 0 || size > kWsdlMaxBytes)
        return false;
    try {
        pugi::xml_document doc;
        if (!doc.load_buffer(data, size, pugi::parse_default, pugi::encoding_auto))
            return false;
        const pugi::xml_node root = doc.document_element();
        if (!Named(root, "definitions"))
            return false;
        std::vector<WsdlOperation> read;
        if (!Walk(root, &read))
            return false;
        table->swap(read);
        return true;
    } catch (const std::bad_alloc&) {
        return false;
    }
}

const WsdlOperation* FindWsdlOperation(const std::vector<WsdlOperation>& table, const std::string& name)
{
    for (const WsdlOperation& op : table)
        if (op.strName == name)
            return &op;
    return nullptr;
}
