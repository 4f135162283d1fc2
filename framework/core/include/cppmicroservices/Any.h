#ifndef CPPMICROSERVICES_ANY_H
#define CPPMICROSERVICES_ANY_H

#include "cppmicroservices/FrameworkConfig.h"

#include <memory>
#include <ostream>
#include <sstream>
#include <string>
#include <type_traits>
#include <typeinfo>
#include <utility>
#include <vector>

namespace cppmicroservices {

class Any;

namespace detail {
US_Framework_EXPORT std::string GetDemangledName(std::type_info const& typeInfo);

template <class T>
concept AnyStreamable = requires(std::ostream& os, T const& v) {
    os << v;
};

template <class T>
concept AnyEqualityComparable = requires(T const& a, T const& b) {
    { a == b } -> std::convertible_to<bool>;
};

template <class T> void AnyWrite(std::ostream& os, T const& value);

template <class E> void AnyWriteSequence(std::ostream& os, std::vector<E> const& values) {
    os << '[';
    bool first = true;
    for (auto const& v : values) {
        if (!first) {
            os << ',';
        }
        first = false;
        AnyWrite(os, v);
    }
    os << ']';
}

template <class T> struct IsVector : std::false_type {};
template <class E, class A> struct IsVector<std::vector<E, A>> : std::true_type {};

template <class T> void AnyWrite(std::ostream& os, T const& value) {
    if constexpr (std::is_same_v<T, bool>) {
        os << (value ? "true" : "false");
    } else if constexpr (IsVector<T>::value) {
        AnyWriteSequence(os, value);
    } else if constexpr (AnyStreamable<T>) {
        os << value;
    } else {
        os << '<' << GetDemangledName(typeid(T)) << '>';
    }
}
} // namespace detail

/// Thrown by any_cast when the held value has another type.
class US_Framework_EXPORT BadAnyCastException : public std::bad_cast {
public:
    explicit BadAnyCastException(
        std::string msg = "cppmicroservices::BadAnyCastException: failed conversion using "
                          "cppmicroservices::any_cast");
    ~BadAnyCastException() override;
    char const* what() const noexcept override;

private:
    std::string _msg;
};

/// A value of any copyable type. A C string is held as std::string.
class US_Framework_EXPORT Any {
public:
    Any() = default;

    template <typename ValueType,
              typename = std::enable_if_t<!std::is_same_v<std::decay_t<ValueType>, Any> &&
                                          !std::is_same_v<std::decay_t<ValueType>, char const*> &&
                                          !std::is_same_v<std::decay_t<ValueType>, char*>>>
    Any(ValueType&& value)
        : _content(
              std::make_unique<Holder<std::decay_t<ValueType>>>(std::forward<ValueType>(value))) {}

    Any(char const* value) : Any(std::string(value)) {}
    Any(Any const& other) : _content(other._content ? other._content->Clone() : nullptr) {}
    Any(Any&& other) noexcept = default;
    ~Any() = default;

    Any& operator=(Any const& rhs) {
        Any(rhs).Swap(*this);
        return *this;
    }
    Any& operator=(Any&& rhs) noexcept = default;

    Any& Swap(Any& rhs) noexcept {
        std::swap(_content, rhs._content);
        return *this;
    }

    bool Empty() const { return !_content; }

    /// The held value as text: strings as they are, numbers as streamed, bools as
    /// true/false, vectors as [a,b]. Empty: throws std::logic_error.
    std::string ToString() const;
    std::string ToStringNoExcept() const;
    std::string ToJSON(bool prettyPrint = false) const;

    std::type_info const& Type() const { return _content ? _content->Type() : typeid(void); }

    bool operator==(Any const& rhs) const;
    bool operator!=(Any const& rhs) const { return !(*this == rhs); }

    template <typename ValueType> bool operator==(ValueType const& val) const {
        if (Type() != typeid(ValueType)) {
            return false;
        }
        return *static_cast<ValueType const*>(_content->Value()) == val;
    }

private:
    struct Placeholder {
        virtual ~Placeholder() = default;
        virtual std::type_info const& Type() const = 0;
        virtual std::unique_ptr<Placeholder> Clone() const = 0;
        virtual void Write(std::ostream& os) const = 0;
        virtual bool Equals(Placeholder const& other) const = 0;
        virtual void const* Value() const = 0;
        virtual void* Value() = 0;
    };

    template <typename ValueType> struct Holder final : Placeholder {
        template <class V> explicit Holder(V&& v) : held(std::forward<V>(v)) {}
        std::type_info const& Type() const override { return typeid(ValueType); }
        std::unique_ptr<Placeholder> Clone() const override {
            return std::make_unique<Holder>(held);
        }
        void Write(std::ostream& os) const override { detail::AnyWrite(os, held); }
        bool Equals(Placeholder const& other) const override {
            if (other.Type() != typeid(ValueType)) {
                return false;
            }
            if constexpr (detail::AnyEqualityComparable<ValueType>) {
                return held == *static_cast<ValueType const*>(other.Value());
            } else {
                return this == &other;
            }
        }
        void const* Value() const override { return &held; }
        void* Value() override { return &held; }
        ValueType held;
    };

    template <typename ValueType> friend ValueType* any_cast(Any*);
    template <typename ValueType> friend ValueType* unsafe_any_cast(Any*);

    std::unique_ptr<Placeholder> _content;
};

template <typename ValueType> ValueType* any_cast(Any* operand) {
    return operand && operand->Type() == typeid(ValueType)
               ? static_cast<ValueType*>(operand->_content->Value())
               : nullptr;
}

template <typename ValueType> ValueType const* any_cast(Any const* operand) {
    return any_cast<ValueType>(const_cast<Any*>(operand));
}

template <typename ValueType> ValueType any_cast(Any const& operand) {
    using Plain = std::remove_cv_t<std::remove_reference_t<ValueType>>;
    Plain const* result = any_cast<Plain>(&operand);
    if (!result) {
        throw BadAnyCastException(
            "cppmicroservices::BadAnyCastException: any_cast: cannot convert " +
            detail::GetDemangledName(operand.Type()) + " to " +
            detail::GetDemangledName(typeid(Plain)));
    }
    return *result;
}

template <typename ValueType> ValueType any_cast(Any& operand) {
    using Plain = std::remove_cv_t<std::remove_reference_t<ValueType>>;
    Plain* result = any_cast<Plain>(&operand);
    if (!result) {
        throw BadAnyCastException(
            "cppmicroservices::BadAnyCastException: any_cast: cannot convert " +
            detail::GetDemangledName(operand.Type()) + " to " +
            detail::GetDemangledName(typeid(Plain)));
    }
    return *result;
}

template <typename ValueType> ValueType const& ref_any_cast(Any const& operand) {
    ValueType const* result = any_cast<ValueType>(&operand);
    if (!result) {
        throw BadAnyCastException();
    }
    return *result;
}

template <typename ValueType> ValueType& ref_any_cast(Any& operand) {
    ValueType* result = any_cast<ValueType>(&operand);
    if (!result) {
        throw BadAnyCastException();
    }
    return *result;
}

US_Framework_EXPORT std::ostream& operator<<(std::ostream& os, Any const& any);

} // namespace cppmicroservices

#endif
