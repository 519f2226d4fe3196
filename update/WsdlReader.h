// The operation table read from the camera's WSDL document: for every service, every port and
// every operation of its binding, the operation's name, its SOAP action and its message parts.
// The reader takes the document as bytes and touches nothing else, so that a fuzzer can feed it.
//
// Parts: the request's parts carry their call index (the position of the argument, by the
// operation's parameterOrder when it has one, else by their order in the input message); the
// first output part that is not an argument is the result and carries kWsdlResultIndex.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

constexpr int32_t kWsdlResultIndex = -1;

// What a camera's WSDL may hold; a document beyond these is not read.
constexpr size_t kWsdlMaxBytes = 1u << 20;
constexpr size_t kWsdlMaxOperations = 256;
constexpr size_t kWsdlMaxParts = 32;
constexpr size_t kWsdlMaxName = 255;

struct WsdlPart {
    int32_t lCallIndex = 0;
    std::string strElementName;
    uint16_t vtType = 0;     // the VT_ type a value is converted to before it is written
    bool bOutput = false;    // a part of the response
};

struct WsdlOperation {
    std::string strName;
    std::string strSoapAction;
    std::vector<WsdlPart> parts;
};

// False when the bytes are not a WSDL document that can be walked: not XML, no "definitions"
// root, a reference to a binding, port type or message that is not there, or a limit above
// exceeded. The table is replaced only on success.
bool ReadWsdl(const char* data, size_t size, std::vector<WsdlOperation>* table);

// The first entry of that name, or null.
const WsdlOperation* FindWsdlOperation(const std::vector<WsdlOperation>& table, const std::string& name);

// The VT_ type of an XML schema type name ("xsd:int", "string", ...; the prefix is ignored):
// the integer types, "boolean", "string", and "anyType" (VT_VARIANT); VT_BSTR for the others.
uint16_t XsdTypeToVariant(const char* qualifiedName);
// The part of a qualified name after its prefix.
const char* XmlLocalName(const char* qualifiedName);
