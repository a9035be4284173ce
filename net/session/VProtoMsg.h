#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

namespace google {
namespace protobuf {
class DynamicMessageFactory;
class FieldDescriptor;
class Message;
class Reflection;
} // namespace protobuf
} // namespace google

// Owner of one dynamic protobuf message whose type comes from a schema file loaded at run
// time (see ProtoSchemas.h). Fields are addressed by name. An accessor on an invalid object
// returns false (or an empty result) and does nothing else. A field name that the message type
// does not know ends the process (fatalExit) where the accessor says so: such a name is a
// programming error against the shipped schemas.
class VProtoMsg
{
public:
    using Message = google::protobuf::Message;

    VProtoMsg();
    ~VProtoMsg();
    VProtoMsg(const VProtoMsg&) = delete;
    VProtoMsg& operator=(const VProtoMsg&) = delete;

    // Imports fileName (e.g. "HeartBeatCmd.proto") and makes an empty message of fullName
    // (e.g. "HeartBeatCmd.heartBeat"). False when the file or the type cannot be found.
    bool create(const QString& fileName, const QString& fullName);
    // create, or the process ends with "proto解析错误，" followed by fullName.
    void createOrExit(const QString& fileName, const QString& fullName);
    // create with the file derived from the full name: text before the first "." + ".proto".
    void createByNameOrExit(const QString& fullName);
    static QString schemaFileOf(const QString& fullName);

    // Adopts a message owned elsewhere (it must outlive this object).
    bool attach(Message* message);
    bool isValid() const { return m_valid != 0; }
    Message* message() const { return m_message; }

    QByteArray serialize() const;
    bool parse(const QByteArray& bytes);
    QString debugText() const;

    bool hasField(const QString& name) const;

    bool getInt32(const QString& name, qint32& out, qint32 defaultValue) const;
    bool getInt32(const QString& name, qint32& out) const;
    bool getInt64(const QString& name, qint64& out, qint64 defaultValue) const;
    bool getInt64(const QString& name, qint64& out) const;
    bool getUInt32(const QString& name, quint32& out) const;
    bool getFloat(const QString& name, float& out) const;
    bool getDouble(const QString& name, double& out) const;
    bool getBool(const QString& name, bool& out, bool defaultValue) const;
    bool getBool(const QString& name, bool& out) const;
    bool getString(const QString& name, QString& out, const QString& defaultValue) const;

    bool setInt32(const QString& name, qint32 value);
    bool setInt64(const QString& name, qint64 value);
    bool setUInt32(const QString& name, quint32 value);
    bool setBool(const QString& name, bool value);
    bool setString(const QString& name, const QString& value);
    bool setBytes(const QString& name, const QByteArray& value);

    bool getRepeatedInt32(const QString& name, QList<int>& out) const;
    bool getRepeatedInt64(const QString& name, QList<qint64>& out) const;
    bool getRepeatedString(const QString& name, QStringList& out) const;
    QList<const Message*> getRepeatedMessages(const QString& name) const;
    bool mutableRepeatedMessage(const QString& name, int index, Message*& out);
    bool addInt32s(const QString& name, const QList<int>& values);
    bool addInt64s(const QString& name, const QList<qint64>& values);
    bool addString(const QString& name, const QString& value);
    bool addMessage(const QString& name, Message*& out);
    bool mutableMessage(const QString& name, Message*& out);

private:
    using Field = google::protobuf::FieldDescriptor;

    void reset();
    // The field of that name; an unknown name ends the process.
    const Field* findField(const QString& name) const;
    // The field of that name or null, without exiting.
    const Field* lookupField(const QString& name) const;
    // Whether the field has the expected value kind (protobuf C++ type) and cardinality. A
    // mismatch is logged: protobuf's reflection would abort the process instead.
    bool fits(const Field* field, int cppType, bool repeated) const;
    bool fitsExactType(const Field* field, int type) const;
    // The field when the message is valid and the field fits; null otherwise. The first ends
    // the process on an unknown name, the second refuses it.
    const Field* typedField(const QString& name, int cppType, bool repeated) const;
    const Field* knownTypedField(const QString& name, int cppType, bool repeated) const;
    // Sets a singular field of that kind through the given reflection setter.
    template <typename Setter, typename Value>
    bool setField(const QString& name, int cppType, Setter setter, Value value);

    google::protobuf::DynamicMessageFactory* m_factory = nullptr;
    Message* m_message = nullptr;
    const google::protobuf::Reflection* m_reflection = nullptr;
    quint8 m_ownsMessage = 0;
    quint8 m_valid = 0;
};

using VProtoMsgPtr = QSharedPointer<VProtoMsg>;
Q_DECLARE_METATYPE(VProtoMsgPtr)

// Registers VProtoMsgPtr under the name "VProtoMsgPtr" on first call; returns its type id.
int vProtoMsgPtrTypeId();
