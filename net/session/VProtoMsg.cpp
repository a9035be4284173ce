#include "net/session/VProtoMsg.h"

#include "base/ShellFunctions.h"
#include "net/session/ProtoSchemas.h"

#include <QDebug>

#include <google/protobuf/compiler/importer.h>
#include <google/protobuf/descriptor.h>
#include <google/protobuf/dynamic_message.h>
#include <google/protobuf/message.h>

#include <limits>
#include <new>

using google::protobuf::Descriptor;
using google::protobuf::DynamicMessageFactory;
using google::protobuf::FieldDescriptor;
using google::protobuf::FileDescriptor;
using google::protobuf::Reflection;

int vProtoMsgPtrTypeId()
{
    static const int typeId = qRegisterMetaType<VProtoMsgPtr>("VProtoMsgPtr");
    return typeId;
}

VProtoMsg::VProtoMsg()
{
    vProtoMsgPtrTypeId();
}

VProtoMsg::~VProtoMsg()
{
    reset();
}

void VProtoMsg::reset()
{
    m_reflection = nullptr;
    // The message must go before the factory that made it.
    if (m_ownsMessage)
        delete m_message;
    m_message = nullptr;
    delete m_factory;
    m_factory = nullptr;
    m_ownsMessage = 0;
    m_valid = 0;
}

bool VProtoMsg::create(const QString& fileName, const QString& fullName)
{
    reset();
    m_ownsMessage = 1;
    auto* importer = protoImporter();
    const FileDescriptor* file = importer ? importer->Import(fileName.toStdString()) : nullptr;
    if (!file) {
        reset();
        return false;
    }
    const Descriptor* type = importer->pool()->FindMessageTypeByName(fullName.toStdString());
    if (!type) {
        reset();
        return false;
    }
    m_factory = new (std::nothrow) DynamicMessageFactory();
    const Message* prototype = m_factory ? m_factory->GetPrototype(type) : nullptr;
    m_message = prototype ? prototype->New() : nullptr;
    m_reflection = m_message ? m_message->GetReflection() : nullptr;
    if (!m_reflection) {
        reset();
        return false;
    }
    m_valid = 1;
    return true;
}

void VProtoMsg::createOrExit(const QString& fileName, const QString& fullName)
{
    if (!create(fileName, fullName))
        fatalExit(QStringLiteral("proto解析错误，") + fullName);
}

QString VProtoMsg::schemaFileOf(const QString& fullName)
{
    return fullName.section(QLatin1Char('.'), 0, 0) + QStringLiteral(".proto");
}

void VProtoMsg::createByNameOrExit(const QString& fullName)
{
    createOrExit(schemaFileOf(fullName), fullName);
}

bool VProtoMsg::attach(Message* message)
{
    reset();
    m_ownsMessage = 0;
    m_message = message;
    m_reflection = message ? message->GetReflection() : nullptr;
    if (!m_reflection) {
        reset();
        return false;
    }
    m_valid = 1;
    return true;
}

QByteArray VProtoMsg::serialize() const
{
    if (!isValid())
        return {};
    const size_t size = m_message->ByteSizeLong();
    if (size == 0 || size > size_t(std::numeric_limits<int>::max()))
        return {};
    QByteArray bytes(int(size), Qt::Uninitialized);
    if (!m_message->SerializeToArray(bytes.data(), bytes.size()))
        return {};
    return bytes;
}

bool VProtoMsg::parse(const QByteArray& bytes)
{
    if (!isValid())
        return false;
    return m_message->ParseFromArray(bytes.constData(), bytes.size());
}

QString VProtoMsg::debugText() const
{
    if (!m_message)
        return {};
    return QString::fromStdString(m_message->ShortDebugString());
}

const FieldDescriptor* VProtoMsg::lookupField(const QString& name) const
{
    return m_message->GetDescriptor()->FindFieldByName(name.toStdString());
}

const FieldDescriptor* VProtoMsg::findField(const QString& name) const
{
    const FieldDescriptor* field = lookupField(name);
    if (!field)
        fatalExit(QStringLiteral("proto访问错误，") + name);
    return field;
}

bool VProtoMsg::fits(const Field* field, int cppType, bool repeated) const
{
    if (field->cpp_type() == cppType && field->is_repeated() == repeated)
        return true;
    qInfo() << "proto field error" << QString::fromStdString(field->name()) << int(field->cpp_type())
            << cppType << field->is_repeated();
    return false;
}

const FieldDescriptor* VProtoMsg::typedField(const QString& name, int cppType, bool repeated) const
{
    if (!isValid())
        return nullptr;
    const FieldDescriptor* field = findField(name);
    return fits(field, cppType, repeated) ? field : nullptr;
}

const FieldDescriptor* VProtoMsg::knownTypedField(const QString& name, int cppType, bool repeated) const
{
    if (!isValid())
        return nullptr;
    const FieldDescriptor* field = lookupField(name);
    return field && fits(field, cppType, repeated) ? field : nullptr;
}

bool VProtoMsg::fitsExactType(const Field* field, int type) const
{
    if (field->type() != type) {
        qInfo() << "proto field error" << int(field->type()) << type;
        return false;
    }
    return fits(field, field->cpp_type(), false);
}

bool VProtoMsg::hasField(const QString& name) const
{
    if (!isValid())
        return false;
    const FieldDescriptor* field = lookupField(name);
    if (!field)
        return false;
    // Reflection has no "set" state for a list (it would abort); a non-empty list counts.
    if (field->is_repeated())
        return m_reflection->FieldSize(*m_message, field) > 0;
    return m_reflection->HasField(*m_message, field);
}

bool VProtoMsg::getInt32(const QString& name, qint32& out, qint32 defaultValue) const
{
    if (!isValid())
        return false;
    out = defaultValue;
    const FieldDescriptor* field = lookupField(name);
    if (!field || !fitsExactType(field, FieldDescriptor::TYPE_INT32) || !hasField(name))
        return false;
    out = m_reflection->GetInt32(*m_message, field);
    return true;
}

bool VProtoMsg::getInt32(const QString& name, qint32& out) const
{
    if (!isValid())
        return false;
    const FieldDescriptor* field = findField(name);
    if (!fitsExactType(field, FieldDescriptor::TYPE_INT32))
        return false;
    out = m_reflection->GetInt32(*m_message, field);
    return true;
}

bool VProtoMsg::getInt64(const QString& name, qint64& out, qint64 defaultValue) const
{
    if (!isValid())
        return false;
    out = defaultValue;
    const FieldDescriptor* field = lookupField(name);
    if (!field || !fitsExactType(field, FieldDescriptor::TYPE_INT64) || !hasField(name))
        return false;
    out = m_reflection->GetInt64(*m_message, field);
    return true;
}

bool VProtoMsg::getInt64(const QString& name, qint64& out) const
{
    if (!isValid())
        return false;
    const FieldDescriptor* field = findField(name);
    if (!fitsExactType(field, FieldDescriptor::TYPE_INT64))
        return false;
    out = m_reflection->GetInt64(*m_message, field);
    return true;
}

bool VProtoMsg::getUInt32(const QString& name, quint32& out) const
{
    const FieldDescriptor* field = knownTypedField(name, FieldDescriptor::CPPTYPE_UINT32, false);
    if (!field)
        return false;
    out = m_reflection->GetUInt32(*m_message, field);
    return true;
}

bool VProtoMsg::getFloat(const QString& name, float& out) const
{
    const FieldDescriptor* field = typedField(name, FieldDescriptor::CPPTYPE_FLOAT, false);
    if (!field)
        return false;
    out = m_reflection->GetFloat(*m_message, field);
    return true;
}

bool VProtoMsg::getDouble(const QString& name, double& out) const
{
    const FieldDescriptor* field = typedField(name, FieldDescriptor::CPPTYPE_DOUBLE, false);
    if (!field)
        return false;
    out = m_reflection->GetDouble(*m_message, field);
    return true;
}

bool VProtoMsg::getBool(const QString& name, bool& out, bool defaultValue) const
{
    if (!isValid())
        return false;
    out = defaultValue;
    const FieldDescriptor* field = lookupField(name);
    if (!field || !fits(field, FieldDescriptor::CPPTYPE_BOOL, false) || !hasField(name))
        return false;
    out = m_reflection->GetBool(*m_message, field);
    return true;
}

bool VProtoMsg::getBool(const QString& name, bool& out) const
{
    const FieldDescriptor* field = typedField(name, FieldDescriptor::CPPTYPE_BOOL, false);
    if (!field)
        return false;
    out = m_reflection->GetBool(*m_message, field);
    return true;
}

bool VProtoMsg::getString(const QString& name, QString& out, const QString& defaultValue) const
{
    if (!isValid())
        return false;
    out = defaultValue;
    const FieldDescriptor* field = lookupField(name);
    if (!field || !fits(field, FieldDescriptor::CPPTYPE_STRING, false) || !hasField(name))
        return false;
    out = QString::fromStdString(m_reflection->GetString(*m_message, field));
    return true;
}

template <typename Setter, typename Value>
bool VProtoMsg::setField(const QString& name, int cppType, Setter setter, Value value)
{
    const FieldDescriptor* field = typedField(name, cppType, false);
    if (!field)
        return false;
    (m_reflection->*setter)(m_message, field, value);
    return true;
}

bool VProtoMsg::setInt32(const QString& name, qint32 value)
{
    return setField(name, FieldDescriptor::CPPTYPE_INT32, &Reflection::SetInt32, value);
}

bool VProtoMsg::setInt64(const QString& name, qint64 value)
{
    return setField(name, FieldDescriptor::CPPTYPE_INT64, &Reflection::SetInt64, value);
}

bool VProtoMsg::setUInt32(const QString& name, quint32 value)
{
    return setField(name, FieldDescriptor::CPPTYPE_UINT32, &Reflection::SetUInt32, value);
}

bool VProtoMsg::setBool(const QString& name, bool value)
{
    return setField(name, FieldDescriptor::CPPTYPE_BOOL, &Reflection::SetBool, value);
}

bool VProtoMsg::setString(const QString& name, const QString& value)
{
    return setBytes(name, value.toUtf8());
}

bool VProtoMsg::setBytes(const QString& name, const QByteArray& value)
{
    const FieldDescriptor* field = typedField(name, FieldDescriptor::CPPTYPE_STRING, false);
    if (!field)
        return false;
    m_reflection->SetString(m_message, field, value.toStdString());
    return true;
}

bool VProtoMsg::getRepeatedInt32(const QString& name, QList<int>& out) const
{
    const FieldDescriptor* field = knownTypedField(name, FieldDescriptor::CPPTYPE_INT32, true);
    if (!field)
        return false;
    const int count = m_reflection->FieldSize(*m_message, field);
    for (int i = 0; i < count; ++i)
        out.append(m_reflection->GetRepeatedInt32(*m_message, field, i));
    return count > 0;
}

bool VProtoMsg::getRepeatedInt64(const QString& name, QList<qint64>& out) const
{
    const FieldDescriptor* field = knownTypedField(name, FieldDescriptor::CPPTYPE_INT64, true);
    if (!field)
        return false;
    const int count = m_reflection->FieldSize(*m_message, field);
    for (int i = 0; i < count; ++i)
        out.append(m_reflection->GetRepeatedInt64(*m_message, field, i));
    return count > 0;
}

bool VProtoMsg::getRepeatedString(const QString& name, QStringList& out) const
{
    const FieldDescriptor* field = knownTypedField(name, FieldDescriptor::CPPTYPE_STRING, true);
    if (!field)
        return false;
    const int count = m_reflection->FieldSize(*m_message, field);
    for (int i = 0; i < count; ++i)
        out.append(QString::fromStdString(m_reflection->GetRepeatedString(*m_message, field, i)));
    return count > 0;
}

QList<const VProtoMsg::Message*> VProtoMsg::getRepeatedMessages(const QString& name) const
{
    QList<const Message*> messages;
    const FieldDescriptor* field = typedField(name, FieldDescriptor::CPPTYPE_MESSAGE, true);
    if (!field)
        return messages;
    const int count = m_reflection->FieldSize(*m_message, field);
    for (int i = 0; i < count; ++i)
        messages.append(&m_reflection->GetRepeatedMessage(*m_message, field, i));
    return messages;
}

bool VProtoMsg::mutableRepeatedMessage(const QString& name, int index, Message*& out)
{
    const FieldDescriptor* field = typedField(name, FieldDescriptor::CPPTYPE_MESSAGE, true);
    if (!field)
        return false;
    // Reflection aborts on an index outside the list.
    if (index < 0 || index >= m_reflection->FieldSize(*m_message, field)) {
        qInfo() << "proto field error" << name << "index" << index;
        return false;
    }
    out = m_reflection->MutableRepeatedMessage(m_message, field, index);
    return true;
}

bool VProtoMsg::addInt32s(const QString& name, const QList<int>& values)
{
    const FieldDescriptor* field = typedField(name, FieldDescriptor::CPPTYPE_INT32, true);
    if (!field)
        return false;
    for (int value : values)
        m_reflection->AddInt32(m_message, field, value);
    return true;
}

bool VProtoMsg::addInt64s(const QString& name, const QList<qint64>& values)
{
    const FieldDescriptor* field = typedField(name, FieldDescriptor::CPPTYPE_INT64, true);
    if (!field)
        return false;
    for (qint64 value : values)
        m_reflection->AddInt64(m_message, field, value);
    return true;
}

bool VProtoMsg::addString(const QString& name, const QString& value)
{
    const FieldDescriptor* field = typedField(name, FieldDescriptor::CPPTYPE_STRING, true);
    if (!field)
        return false;
    m_reflection->AddString(m_message, field, value.toStdString());
    return true;
}

bool VProtoMsg::addMessage(const QString& name, Message*& out)
{
    const FieldDescriptor* field = typedField(name, FieldDescriptor::CPPTYPE_MESSAGE, true);
    if (!field)
        return false;
    out = m_reflection->AddMessage(m_message, field, m_factory);
    return out != nullptr;
}

bool VProtoMsg::mutableMessage(const QString& name, Message*& out)
{
    const FieldDescriptor* field = typedField(name, FieldDescriptor::CPPTYPE_MESSAGE, false);
    if (!field)
        return false;
    out = m_reflection->MutableMessage(m_message, field, m_factory);
    return out != nullptr;
}
