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
//   every field     Alignment (taLeftJustify), CustomConstraint, ConstraintErrorMessage,
//                   DefaultExpression, DisplayLabel, DisplayWidth (0: the class's own width),
//                   FieldKind (fkData), FieldName, ImportedConstraint, LookupKeyFields,
//                   LookupResultField, KeyFields, LookupCache (False), Origin, ProviderFlags
//                   ([pfInUpdate, pfInWhere]), ReadOnly (False), Required (False), Visible (True)
//   TStringField    EditMask, FixedChar (False), Size (20)
//   numeric fields  Alignment again, right-justified by default (taRightJustify), in its
//                   place; DisplayFormat, EditFormat; then TIntegerField MaxValue (0),
//                   MinValue (0); TFloatField Currency (False), MaxValue (0.0), MinValue (0.0),
//                   Precision (15), TCurrencyField with Currency (True); TBCDField Currency
//                   (False), MaxValue (0.0), MinValue (0.0), Precision (0), Size (4)
//   TDateTimeField  DisplayFormat, EditMask
// The limits of the float and numeric fields are doubles; the numeric field's limits keep the
// digits the text gives them (they are not rounded to the field's scale).
// The class registry does not know these classes until a unit registers them.
#pragma once

#include <cstdint>
#include <string>

#include "rtl/ClassRegistry.h"
#include "rtl/Component.h"
#include "rtl/Field.h"
#include "rtl/FieldType.h"

namespace rtl {

// How a field's text is placed in its column.
enum TAlignment : int32_t { taLeftJustify, taRightJustify, taCenter };

// How a provider uses a field when it applies updates: in the changed columns, in the WHERE
// clause that finds the row, as part of the key, not sent to the client.
enum TProviderFlag : int32_t { pfInUpdate, pfInWhere, pfInKey, pfHidden };
using TProviderFlags = EnumSet<TProviderFlag>;

class TFieldComponent : public Component {
public:
    explicit TFieldComponent(Component* owner = nullptr) : Component(owner) {}

    static const ComponentClass& ClassInfo();
    const ComponentClass& ClassType() const override { return ClassInfo(); }
    // The type of the values the class reads.
    virtual TFieldType DataType() const = 0;

    TAlignment Alignment() const { return alignment_; }
    void SetAlignment(TAlignment v) { alignment_ = v; }
    // A condition on the field's value (an SQL expression) with the message shown when it
    // fails, and the condition the server's own schema puts on the column.
    const std::string& CustomConstraint() const { return customConstraint_; }
    void SetCustomConstraint(const std::string& v) { customConstraint_ = v; }
    const std::string& ConstraintErrorMessage() const { return constraintErrorMessage_; }
    void SetConstraintErrorMessage(const std::string& v) { constraintErrorMessage_ = v; }
    const std::string& ImportedConstraint() const { return importedConstraint_; }
    void SetImportedConstraint(const std::string& v) { importedConstraint_ = v; }
    const std::string& DefaultExpression() const { return defaultExpression_; }
    void SetDefaultExpression(const std::string& v) { defaultExpression_ = v; }
    const std::string& DisplayLabel() const { return displayLabel_; }
    void SetDisplayLabel(const std::string& v) { displayLabel_ = v; }
    // Characters shown; 0 leaves the width to the field's class.
    int32_t DisplayWidth() const { return displayWidth_; }
    void SetDisplayWidth(int32_t v) { displayWidth_ = v; }
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
    // A lookup field keeps the values it has looked up.
    bool LookupCache() const { return lookupCache_; }
    void SetLookupCache(bool v) { lookupCache_ = v; }
    const std::string& Origin() const { return origin_; }
    void SetOrigin(const std::string& v) { origin_ = v; }
    TProviderFlags ProviderFlags() const { return providerFlags_; }
    void SetProviderFlags(TProviderFlags v) { providerFlags_ = v; }
    bool ReadOnly() const { return readOnly_; }
    void SetReadOnly(bool v) { readOnly_ = v; }
    bool Required() const { return required_; }
    void SetRequired(bool v) { required_ = v; }
    bool Visible() const { return visible_; }
    void SetVisible(bool v) { visible_ = v; }

protected:
    TAlignment alignment_ = taLeftJustify;

private:
    std::string customConstraint_, constraintErrorMessage_, defaultExpression_, displayLabel_, fieldName_,
        importedConstraint_, lookupKeyFields_, lookupResultField_, keyFields_, origin_;
    int32_t displayWidth_ = 0;
    TFieldKind fieldKind_ = fkData;
    bool lookupCache_ = false;
    TProviderFlags providerFlags_{pfInUpdate, pfInWhere};
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

    // The mask that edits the text.
    const std::string& EditMask() const { return editMask_; }
    void SetEditMask(const std::string& v) { editMask_ = v; }
    bool FixedChar() const { return fixedChar_; }
    void SetFixedChar(bool v) { fixedChar_ = v; }
    int32_t Size() const { return size_; }
    void SetSize(int32_t v) { size_ = v; }

private:
    std::string editMask_;
    bool fixedChar_ = false;
    int32_t size_ = 20;
};

class TNumericField : public TFieldComponent {
public:
    // Numbers line up on the right.
    explicit TNumericField(Component* owner = nullptr) : TFieldComponent(owner) {
        alignment_ = taRightJustify;
    }
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
    // The range a value must lie in; both 0: any value.
    double MaxValue() const { return maxValue_; }
    void SetMaxValue(double v) { maxValue_ = v; }
    double MinValue() const { return minValue_; }
    void SetMinValue(double v) { minValue_ = v; }
    // Significant digits shown.
    int32_t Precision() const { return precision_; }
    void SetPrecision(int32_t v) { precision_ = v; }

protected:
    bool currency_ = false;

private:
    double maxValue_ = 0;
    double minValue_ = 0;
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
    // The range a value must lie in; both 0: any value.
    double MaxValue() const { return maxValue_; }
    void SetMaxValue(double v) { maxValue_ = v; }
    double MinValue() const { return minValue_; }
    void SetMinValue(double v) { minValue_ = v; }
    // Digits in all, and digits after the decimal point.
    int32_t Precision() const { return precision_; }
    void SetPrecision(int32_t v) { precision_ = v; }
    int32_t Size() const { return size_; }
    void SetSize(int32_t v) { size_ = v; }

private:
    bool currency_ = false;
    double maxValue_ = 0;
    double minValue_ = 0;
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
    const std::string& EditMask() const { return editMask_; }
    void SetEditMask(const std::string& v) { editMask_ = v; }

private:
    std::string displayFormat_, editMask_;
};

}  // namespace rtl
