// rtl/FieldComponents.cpp: the property tables of the field classes.
#include "rtl/FieldComponents.h"

namespace rtl {

namespace {

template <class C>
ComponentClass::Factory FactoryOf() {
    return [] { return std::make_unique<C>(); };
}

// Declared by TField and again by TNumericField. No namespace-scope table: the classes are
// built while other units start, in an order this unit does not choose.
PropertyInfo AlignmentProperty(TAlignment defaultValue) {
    using F = TFieldComponent;
    return EnumerationProperty<F, TAlignment>("Alignment", {"taLeftJustify", "taRightJustify", "taCenter"},
                                              &F::Alignment, &F::SetAlignment, defaultValue);
}

}  // namespace

const ComponentClass& TFieldComponent::ClassInfo() {
    using F = TFieldComponent;
    static const ComponentClass info(
        "TField", &ComponentClassInfo(), nullptr,
        {
            AlignmentProperty(taLeftJustify),
            StringProperty<F>("CustomConstraint", &F::CustomConstraint, &F::SetCustomConstraint),
            StringProperty<F>("ConstraintErrorMessage", &F::ConstraintErrorMessage,
                              &F::SetConstraintErrorMessage),
            StringProperty<F>("DefaultExpression", &F::DefaultExpression, &F::SetDefaultExpression),
            StringProperty<F>("DisplayLabel", &F::DisplayLabel, &F::SetDisplayLabel),
            IntegerProperty<F>("DisplayWidth", &F::DisplayWidth, &F::SetDisplayWidth, 0),
            EnumerationProperty<F, TFieldKind>(
                "FieldKind", {"fkData", "fkCalculated", "fkLookup", "fkInternalCalc", "fkAggregate"},
                &F::FieldKind, &F::SetFieldKind, fkData),
            StringProperty<F>("FieldName", &F::FieldName, &F::SetFieldName),
            StringProperty<F>("ImportedConstraint", &F::ImportedConstraint, &F::SetImportedConstraint),
            StringProperty<F>("LookupKeyFields", &F::LookupKeyFields, &F::SetLookupKeyFields),
            StringProperty<F>("LookupResultField", &F::LookupResultField, &F::SetLookupResultField),
            StringProperty<F>("KeyFields", &F::KeyFields, &F::SetKeyFields),
            BooleanProperty<F>("LookupCache", &F::LookupCache, &F::SetLookupCache, false),
            StringProperty<F>("Origin", &F::Origin, &F::SetOrigin),
            SetProperty<F, TProviderFlag>("ProviderFlags", {"pfInUpdate", "pfInWhere", "pfInKey", "pfHidden"},
                                          &F::ProviderFlags, &F::SetProviderFlags,
                                          TProviderFlags{pfInUpdate, pfInWhere}),
            BooleanProperty<F>("ReadOnly", &F::ReadOnly, &F::SetReadOnly, false),
            BooleanProperty<F>("Required", &F::Required, &F::SetRequired, false),
            BooleanProperty<F>("Visible", &F::Visible, &F::SetVisible, true),
        });
    return info;
}

const ComponentClass& TStringField::ClassInfo() {
    using F = TStringField;
    static const ComponentClass info(
        "TStringField", &TFieldComponent::ClassInfo(), FactoryOf<F>(),
        {
            StringProperty<F>("EditMask", &F::EditMask, &F::SetEditMask),
            BooleanProperty<F>("FixedChar", &F::FixedChar, &F::SetFixedChar, false),
            IntegerProperty<F>("Size", &F::Size, &F::SetSize, 20),
        });
    return info;
}

const ComponentClass& TNumericField::ClassInfo() {
    using F = TNumericField;
    static const ComponentClass info(
        "TNumericField", &TFieldComponent::ClassInfo(), nullptr,
        {
            // Declared again: right-justified unless the text says otherwise.
            AlignmentProperty(taRightJustify),
            StringProperty<F>("DisplayFormat", &F::DisplayFormat, &F::SetDisplayFormat),
            StringProperty<F>("EditFormat", &F::EditFormat, &F::SetEditFormat),
        });
    return info;
}

const ComponentClass& TIntegerField::ClassInfo() {
    using F = TIntegerField;
    static const ComponentClass info("TIntegerField", &TNumericField::ClassInfo(), FactoryOf<F>(),
                                     {
                                         IntegerProperty<F>("MaxValue", &F::MaxValue, &F::SetMaxValue, 0),
                                         IntegerProperty<F>("MinValue", &F::MinValue, &F::SetMinValue, 0),
                                     });
    return info;
}

const ComponentClass& TFloatField::ClassInfo() {
    using F = TFloatField;
    static const ComponentClass info("TFloatField", &TNumericField::ClassInfo(), FactoryOf<F>(),
                                     {
                                         BooleanProperty<F>("Currency", &F::Currency, &F::SetCurrency, false),
                                         FloatProperty<F>("MaxValue", &F::MaxValue, &F::SetMaxValue),
                                         FloatProperty<F>("MinValue", &F::MinValue, &F::SetMinValue),
                                         IntegerProperty<F>("Precision", &F::Precision, &F::SetPrecision, 15),
                                     });
    return info;
}

const ComponentClass& TCurrencyField::ClassInfo() {
    using F = TFloatField;
    // Currency declared again: money unless the text says otherwise.
    static const ComponentClass info("TCurrencyField", &TFloatField::ClassInfo(), FactoryOf<TCurrencyField>(),
                                     {BooleanProperty<F>("Currency", &F::Currency, &F::SetCurrency, true)});
    return info;
}

const ComponentClass& TBCDField::ClassInfo() {
    using F = TBCDField;
    static const ComponentClass info("TBCDField", &TNumericField::ClassInfo(), FactoryOf<F>(),
                                     {
                                         BooleanProperty<F>("Currency", &F::Currency, &F::SetCurrency, false),
                                         FloatProperty<F>("MaxValue", &F::MaxValue, &F::SetMaxValue),
                                         FloatProperty<F>("MinValue", &F::MinValue, &F::SetMinValue),
                                         IntegerProperty<F>("Precision", &F::Precision, &F::SetPrecision, 0),
                                         IntegerProperty<F>("Size", &F::Size, &F::SetSize, 4),
                                     });
    return info;
}

const ComponentClass& TDateTimeField::ClassInfo() {
    using F = TDateTimeField;
    static const ComponentClass info(
        "TDateTimeField", &TFieldComponent::ClassInfo(), FactoryOf<F>(),
        {
            StringProperty<F>("DisplayFormat", &F::DisplayFormat, &F::SetDisplayFormat),
            StringProperty<F>("EditMask", &F::EditMask, &F::SetEditMask),
        });
    return info;
}

}  // namespace rtl
