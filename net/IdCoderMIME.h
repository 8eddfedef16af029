// net/IdCoderMIME.h: Base64 (RFC 2045 alphabet, "=" padding, no line breaks).
#pragma once

#include <string>

#include "net/IdCoder3to4.h"

inline constexpr const char* GBase64CodeTable = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

class TIdEncoderMIME : public TIdEncoder3to4 {
public:
    explicit TIdEncoderMIME(rtl::Component* owner = nullptr) : TIdEncoder3to4(owner) {
        CodingTable = GBase64CodeTable;
        FillChar = '=';
    }

    // Encodes text with an encoder of class T made for the call (the MIME encoder by default).
    template <class T = TIdEncoderMIME>
    static std::string EncodeString(const std::string& text) {
        T encoder;
        return encoder.EncodeText(text);
    }
};
