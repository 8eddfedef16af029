// rtl/FieldComponents.h: the class library's field classes as components that travel in form
// text.
//
// In the class library a persistent field is a component: the text of a data module or of a
// transferred object lists it as an object of TIntegerField, TStringField, TFloatField,
// TDateTimeField, TBCDField or TCurrencyField, with the column it reads and how the column is
// shown and checked. These classes carry that description and its published properties, so
// that such a text reads back into objects of the class it names and is written again the same
// way (rtl/FormText.h). They hold no value: rtl::TField is the accessor a data set makes for a
// column of its records. TFieldComponent ("TField") and TNumericField are the shared ancestors,
// as in the class library, and cannot be created from text.
//
// Published properties, in the order a text lists them (a value equal to the default is not
// written; texts are written when not empty):
//   every field     DefaultExpression, DisplayLabel, FieldKind (fkData), FieldName,
//                   LookupKeyFields, LookupResultField, KeyFields, Origin, ReadOnly (False),
//                   Required (False), Visible (True)
//   TStringField    FixedChar (False), Size (20)
//   numeric fields  DisplayFormat, EditFormat; then TIntegerField MaxValue (0), MinValue (0);
//                   TFloatField Currency (False), Precision (15), TCurrencyField with Currency
//                   (True); TBCDField Currency (False), Precision (0), Size (4)
//   TDateTimeField  DisplayFormat
// The class registry does not know these classes until a unit registers them.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/ClassRegistry.h"
#include "rtl/Component.h"
#include "rtl/Field.h"
#include "rtl/FieldType.h"

namespace rtl {

class TFieldComponent : public Component {
public:
    explicit TFieldComponent(Component* owner = nullptr) : Component(owner) {}

    static const ComponentClass& ClassInfo();
    const ComponentClass& ClassType() const override { return ClassInfo(); }
    // The type of the values the class reads.
    virtual TFieldType DataType() const = 0;

    const std::string& DefaultExpression() const { return defaultExpression_; }
    void SetDefaultExpression(const std::string& v) { defaultExpression_ = v; }
    const std::string& DisplayLabel() const { return displayLabel_; }
    void SetDisplayLabel(const std::string& v) { displayLabel_ = v; }
    TFieldKind FieldKind() const { return fieldKind_; }
    void SetFieldKind(TFieldKind v) { fieldKind_ = v; }
    const std::string& FieldName() const { return fieldName_; }
    void SetFieldName(const std::string& v) { fieldName_ = v; }
    const std::string& LookupKeyFields() const { return lookupKeyFields_; }
    void SetLookupKeyFields(const std::string& v) { lookupKeyFields_ = v; }
    const std::string& LookupResultField() const { return lookupResultField_; }
    void SetLookupResultField(const std::string& v) { lookupResultField_ = v; }
    const std::string& KeyFields() const { return keyFields_; }
    void SetKeyFields(const std::string& v) { keyFields_ = v; }
    const std::string& Origin() const { return origin_; }
    void SetOrigin(const std::string& v) { origin_ = v; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool v) { readOnly_ = v; }
    bool Required() const { return required_; }
    void SetRequired(bool v) { required_ = v; }
    bool Visible() const { return visible_; }
    void SetVisible(bool v) { visible_ = v; }

private:
    std::string defaultExpression_, displayLabel_, fieldName_, lookupKeyFields_, lookupResultField_,
        keyFields_, origin_;
    TFieldKind fieldKind_ = fkData;
    bool readOnly_ = false;
    bool required_ = false;
    bool visible_ = true;
};

class TStringField : public TFieldComponent {
public:
    using TFieldComponent::TFieldComponent;
    static const ComponentClass& ClassInfo();
    const ComponentClass& ClassType() const override { return ClassInfo(); }
    TFieldType DataType() const override { return ftString; }

    bool FixedChar() const { return fixedChar_; }
    void SetFixedChar(bool v) { fixedChar_ = v; }
    int32_t Size() const { return size_; }
    void SetSize(int32_t v) { size_ = v; }

private:
    bool fixedChar_ = false;
    int32_t size_ = 20;
};

class TNumericField : public TFieldComponent {
public:
    using TFieldComponent::TFieldComponent;
    static const ComponentClass& ClassInfo();
    const ComponentClass& ClassType() const override { return ClassInfo(); }

    const std::string& DisplayFormat() const { return displayFormat_; }
    void SetDisplayFormat(const std::string& v) { displayFormat_ = v; }
    const std::string& EditFormat() const { return editFormat_; }
    void SetEditFormat(const std::string& v) { editFormat_ = v; }

private:
    std::string displayFormat_, editFormat_;
};

class TIntegerField : public TNumericField {
public:
    using TNumericField::TNumericField;
    static const ComponentClass& ClassInfo();
    const ComponentClass& ClassType() const override { return ClassInfo(); }
    TFieldType DataType() const override { return ftInteger; }

    int32_t MaxValue() const { return maxValue_; }
    void SetMaxValue(int32_t v) { maxValue_ = v; }
    int32_t MinValue() const { return minValue_; }
    void SetMinValue(int32_t v) { minValue_ = v; }

private:
    int32_t maxValue_ = 0;
    int32_t minValue_ = 0;
};

class TFloatField : public TNumericField {
public:
    using TNumericField::TNumericField;
    static const ComponentClass& ClassInfo();
    const ComponentClass& ClassType() const override { return ClassInfo(); }
    TFieldType DataType() const override { return ftFloat; }

    // Shown as money.
    bool Currency() const { return currency_; }
    void SetCurrency(bool v) { currency_ = v; }
    // Significant digits shown.
    int32_t Precision() const { return precision_; }
    void SetPrecision(int32_t v) { precision_ = v; }

protected:
    bool currency_ = false;

private:
    int32_t precision_ = 15;
};

class TCurrencyField : public TFloatField {
public:
    explicit TCurrencyField(Component* owner = nullptr) : TFloatField(owner) { currency_ = true; }
    static const ComponentClass& ClassInfo();
    const ComponentClass& ClassType() const override { return ClassInfo(); }
    TFieldType DataType() const override { return ftCurrency; }
};

class TBCDField : public TNumericField {
public:
    using TNumericField::TNumericField;
    static const ComponentClass& ClassInfo();
    const ComponentClass& ClassType() const override { return ClassInfo(); }
    TFieldType DataType() const override { return ftBCD; }

    bool Currency() const { return currency_; }
    void SetCurrency(bool v) { currency_ = v; }
    // Digits in all, and digits after the decimal point.
    int32_t Precision() const { return precision_; }
    void SetPrecision(int32_t v) { precision_ = v; }
    int32_t Size() const { return size_; }
    void SetSize(int32_t v) { size_ = v; }

private:
    bool currency_ = false;
    int32_t precision_ = 0;
    int32_t size_ = 4;
};

class TDateTimeField : public TFieldComponent {
public:
    using TFieldComponent::TFieldComponent;
    static const ComponentClass& ClassInfo();
    const ComponentClass& ClassType() const override { return ClassInfo(); }
    TFieldType DataType() const override { return ftDateTime; }

    const std::string& DisplayFormat() const { return displayFormat_; }
    void SetDisplayFormat(const std::string& v) { displayFormat_ = v; }

private:
    std::string displayFormat_;
};

}  // namespace rtl
