// The SOAP 1.1 messages of a call: the request written for an operation of the WSDL's table, and
// the value read from the response. Both work on bytes only (the HTTP exchange is the client's),
// so that a fuzzer can feed the reader.
//
// The request has no encoding style on the envelope, the body or the operation element, and the
// operation element lives in the placeholder namespace whose path is "/message/", as the camera's
// web service expects: its element names come from the parts, not from the WSDL's namespace.
#pragma once

#include <cstddef>
#include <string>

#include "update/SoapValue.h"
#include "update/WsdlReader.h"

constexpr const char* kSoapEnvelopeNamespace = "http://schemas.xmlsoap.org/soap/envelope/";
constexpr const char* kSoapMessageNamespace = "http://tempuri.org/message/";
constexpr size_t kSoapMaxResponseBytes = 1u << 20;

// Writes the request of operation with args[0 .. count-1]: argument i goes to the request part of
// call index i, converted to its type. False when op is null, when an argument has no such part
// or cannot be converted.
bool BuildSoapRequest(const WsdlOperation* op, const SoapValue* args, size_t count, std::string* body);

// The typed value under the response's result element (the result part's element, else the first
// element of the response). Empty for a fault, a nil value, bytes that are no SOAP envelope and a
// value that does not fit its type. The type is the value's xsi:type when it has one, else the
// result part's; a value of neither is a text.
SoapValue ReadSoapResponse(const char* data, size_t size, const WsdlOperation* op);
