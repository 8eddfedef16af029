// rtl/FormText.h: the text form of a component, written and read.
//
// The class library's textual component format (the text a form definition uses), as far as
// components with integer, float, enumeration, Boolean, set, text, reference and binary
// properties need it. Lines end with CR LF:
//
//   object [Name: ]ClassName
//     Property = value          one line per stored property (rtl/ClassRegistry.h)
//     Data = {0400000001020304} a binary property: hexadecimal digits, 32 bytes per line
//   end                         once the block reaches 32 bytes
//
// Integers are decimal with "-" when negative. A text is a sequence of pieces: each run of
// characters of code 32 or more other than the apostrophe between apostrophes, each other
// character as "#" and its decimal code. A text longer than 64 characters starts on a new
// line; whenever the pieces since the start of a line reach 64 characters and text remains,
// the line ends with " +" and the text goes on in a new line indented by four blanks.
// Characters are counted as characters, not as bytes of their UTF-8 form, so an accented
// text wraps where an 8-bit one would. An enumeration or a Boolean is the identifier of its
// value ("fkLookup", "True"), read without regard to case. A set is its values' identifiers,
// in ordinal order, between brackets and separated by ", " ("[pfInUpdate, pfInWhere]", "[]"
// when empty). A float is a decimal with "." as separator whatever the process locale, in
// the fewest digits that read back to the same double: plain for exponents from -5 to 14
// ("9999.99", "-0.001", "100"), with an exponent otherwise ("1.5E-7", "1E20"); a NaN or an
// infinite value cannot be written (rtl::EWriteError). A component reference is the
// referenced component's name.
//
// The reader takes what the writer gives and the rest of the grammar a server's writer may
// use for these kinds: "inherited" and "inline" headers, "$" hexadecimal integers, "''"
// inside a quoted run, "#$" codes, "+" continuations anywhere between pieces, CR LF or LF,
// floats with a sign, trailing zeros, "e" or "E" and an exponent sign ("+1.50e+003"), an
// integer where a float is expected, set identifiers in any order, case and repetition. A
// float that a double cannot hold (past its range, or so small it would become zero) is an
// invalid property value; a set identifier that is not one of the property's values too.
// Texts of other property kinds (lists, collections) and nested objects are refused. The
// class in the header must be registered; it creates a new, ownerless
// component, which belongs to the caller. A reference is resolved by the finder given (by
// name, without regard to case); a name it does not know leaves the reference unset. Every
// failure raises: rtl::EParserError "<reason> on line <n>" for a text that breaks the
// grammar, rtl::EClassNotFound for an unregistered class, rtl::EReadError "Error reading
// <component>.<property>: <reason>" for an unknown property or a value of the wrong kind;
// nothing is returned then.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "rtl/Component.h"
#include "rtl/Exception.h"

namespace rtl {

RTL_EXCEPTION(EParserError, Exception);

std::string ComponentToText(const Component& component);

using ComponentFinder = std::function<Component*(std::string_view name)>;
std::unique_ptr<Component> TextToComponent(std::string_view text, const ComponentFinder& findComponent = {});

}  // namespace rtl
