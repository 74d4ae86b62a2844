// Compares the public surface of the stand-in engine assemblies with the
// record of the engine's own declarations (engine/reference_api.tsv), for one
// engine version at a time:
//   mono EngineApiCheck.exe <record> <engine-version> <assembly>...
//   mono EngineApiCheck.exe --self-test <record> <engine-version> <assembly>...
//   mono EngineApiCheck.exe --print <assembly>...
// Every public or protected type and member of the assemblies becomes one
// line in the record's own spelling; the check fails on any line the record
// has and the stand-in lacks, and on any the stand-in has and the record lacks.
// The self-test first doctors copies of the record (a signature, static or
// instance, an enum value, a kind, a namespace, a missing and an extra line)
// and requires each copy to fail, then runs the real check.
using System;
using System.Collections.Generic;
using System.IO;
using System.Linq;
using System.Reflection;
using System.Text;

namespace ZVAudio.Output.EngineApi
{
    // One line of the record: the engine versions it holds for, then what is
    // compared, then where in the engine's source it is declared.
    public sealed class ApiLine
    {
        public string Versions = "all";
        public string Kind;
        public string Type;
        public string Member;
        public string Scope;
        public string Signature;
        public string Source = "";
        public int LineNumber;

        // What has to be equal; versions and source are not part of it.
        public string Key
        {
            get { return Kind + "\t" + Type + "\t" + Member + "\t" + Scope + "\t" + Signature; }
        }

        // Same kind, type and member name: the line a differing one replaces.
        public string Name
        {
            get { return Kind + " " + Type + (Member == "-" ? "" : "." + Member); }
        }

        public bool HoldsFor(string version)
        {
            return Versions.Split(',').Any(v => v == "all" || v == version);
        }

        public ApiLine Copy()
        {
            return (ApiLine)MemberwiseClone();
        }

        public string ToRecordLine()
        {
            return string.Join("\t", new[] { Versions, Kind, Type, Member, Scope, Signature, Source });
        }

        public static ApiLine Parse(string text, int lineNumber)
        {
            string[] fields = text.Split('\t');
            if (fields.Length != 7)
                throw new FormatException(string.Format("line {0}: {1} tab-separated fields, expected 7", lineNumber,
                                                        fields.Length));
            return new ApiLine { Versions = fields[0], Kind = fields[1], Type = fields[2], Member = fields[3],
                                 Scope = fields[4], Signature = fields[5], Source = fields[6],
                                 LineNumber = lineNumber };
        }

        public static List<ApiLine> ReadRecord(string path)
        {
            var lines = new List<ApiLine>();
            string[] text = File.ReadAllLines(path);
            for (int i = 0; i < text.Length; ++i)
            {
                if (text[i].Length == 0 || text[i].StartsWith("#", StringComparison.Ordinal))
                    continue;
                lines.Add(Parse(text[i], i + 1));
            }
            return lines;
        }
    }

    // Spells types and members as the record does: C# keywords for the
    // built-in types, full names with '.' for nesting, generic arguments in <>.
    public static class Describe
    {
        private static readonly Dictionary<Type, string> keywords = new Dictionary<Type, string> {
            { typeof(void), "void" },     { typeof(bool), "bool" },     { typeof(byte), "byte" },
            { typeof(sbyte), "sbyte" },   { typeof(short), "short" },   { typeof(ushort), "ushort" },
            { typeof(int), "int" },       { typeof(uint), "uint" },     { typeof(long), "long" },
            { typeof(ulong), "ulong" },   { typeof(float), "float" },   { typeof(double), "double" },
            { typeof(char), "char" },     { typeof(string), "string" }, { typeof(object), "object" },
            { typeof(decimal), "decimal" }
        };

        public static string TypeName(Type type)
        {
            if (type.IsByRef)
                return TypeName(type.GetElementType());
            if (type.IsArray)
                return TypeName(type.GetElementType()) + "[" + new string(',', type.GetArrayRank() - 1) + "]";
            if (type.IsGenericParameter)
                return type.Name;
            string keyword;
            if (keywords.TryGetValue(type, out keyword))
                return keyword;
            string name = type.IsNested ? TypeName(type.DeclaringType) + "." + type.Name
                                        : (string.IsNullOrEmpty(type.Namespace) ? "" : type.Namespace + ".") + type.Name;
            if (!type.IsGenericType)
                return name;
            int tick = name.IndexOf('`');
            if (tick >= 0)
                name = name.Substring(0, tick);
            return name + "<" + string.Join(", ", type.GetGenericArguments().Select(TypeName)) + ">";
        }

        public static string Parameters(ParameterInfo[] parameters)
        {
            return "(" + string.Join(", ", parameters.Select(Parameter)) + ")";
        }

        private static string Parameter(ParameterInfo p)
        {
            var text = new StringBuilder();
            if (p.GetCustomAttributes(typeof(ParamArrayAttribute), false).Length > 0)
                text.Append("params ");
            if (p.ParameterType.IsByRef)
                text.Append(p.IsOut ? "out " : p.IsIn ? "in " : "ref ");
            text.Append(TypeName(p.ParameterType)).Append(' ').Append(p.Name);
            if (p.IsOptional)
                text.Append(" = ").Append(Literal(p.RawDefaultValue));
            return text.ToString();
        }

        public static string Literal(object value)
        {
            if (value == null || value is DBNull || value is Missing)
                return "null";
            if (value is string)
                return "\"" + value + "\"";
            if (value is bool)
                return (bool)value ? "true" : "false";
            if (value is float)
                return ((float)value).ToString("R", System.Globalization.CultureInfo.InvariantCulture) + "f";
            if (value is IFormattable)
                return ((IFormattable)value).ToString(null, System.Globalization.CultureInfo.InvariantCulture);
            return value.ToString();
        }

        // "<T>" and the constraints, for a generic method.
        public static string GenericParameters(MethodBase method, out string constraints)
        {
            constraints = "";
            if (!method.IsGenericMethodDefinition)
                return "";
            Type[] arguments = method.GetGenericArguments();
            foreach (Type argument in arguments)
            {
                var bounds = new List<string>();
                GenericParameterAttributes flags = argument.GenericParameterAttributes;
                if ((flags & GenericParameterAttributes.ReferenceTypeConstraint) != 0)
                    bounds.Add("class");
                if ((flags & GenericParameterAttributes.NotNullableValueTypeConstraint) != 0)
                    bounds.Add("struct");
                bounds.AddRange(argument.GetGenericParameterConstraints()
                                    .Where(c => c != typeof(ValueType))
                                    .Select(TypeName));
                if ((flags & GenericParameterAttributes.DefaultConstructorConstraint) != 0 &&
                    (flags & GenericParameterAttributes.NotNullableValueTypeConstraint) == 0)
                    bounds.Add("new()");
                if (bounds.Count > 0)
                    constraints += " where " + argument.Name + " : " + string.Join(", ", bounds);
            }
            return "<" + string.Join(", ", arguments.Select(a => a.Name)) + ">";
        }

        // " [Obsolete]" or " [Obsolete error]": with warnings as errors the
        // first fails our build too, so the stand-in must say it.
        public static string Obsolete(MemberInfo member)
        {
            var obsolete = (ObsoleteAttribute)Attribute.GetCustomAttribute(member, typeof(ObsoleteAttribute), false);
            if (obsolete == null)
                return "";
            return obsolete.IsError ? " [Obsolete error]" : " [Obsolete]";
        }
    }

    // The record lines a compiled assembly implies.
    public static class Surface
    {
        private const BindingFlags Declared = BindingFlags.DeclaredOnly | BindingFlags.Public | BindingFlags.NonPublic |
                                              BindingFlags.Static | BindingFlags.Instance;

        public static List<ApiLine> Of(IEnumerable<Assembly> assemblies)
        {
            var lines = new List<ApiLine>();
            foreach (Assembly assembly in assemblies)
                foreach (Type type in assembly.GetTypes().Where(Visible).OrderBy(t => t.FullName, StringComparer.Ordinal))
                    AddType(type, lines);
            return lines;
        }

        private static bool Visible(Type type)
        {
            if (type.IsNested)
                return (type.IsNestedPublic || type.IsNestedFamily || type.IsNestedFamORAssem) &&
                       Visible(type.DeclaringType);
            return type.IsPublic;
        }

        private static bool Visible(MethodBase method)
        {
            return method != null && (method.IsPublic || method.IsFamily || method.IsFamilyOrAssembly);
        }

        private static void Add(List<ApiLine> lines, string kind, Type type, string member, string scope,
                                string signature)
        {
            lines.Add(new ApiLine { Kind = kind, Type = Describe.TypeName(type), Member = member, Scope = scope,
                                    Signature = signature });
        }

        private static string Access(MethodBase method)
        {
            return method.IsPublic ? "" : "protected ";
        }

        private static string Scope(MethodBase method)
        {
            if (method.IsStatic)
                return "static";
            if (method.IsAbstract)
                return "abstract";
            if (method.IsVirtual && !method.IsFinal)
                return "virtual";
            return "instance";
        }

        private static void AddType(Type type, List<ApiLine> lines)
        {
            Add(lines, "type", type, "-", "-", TypeSignature(type) + Describe.Obsolete(type));
            if (type.IsEnum)
            {
                foreach (FieldInfo value in type.GetFields(BindingFlags.Public | BindingFlags.Static))
                    Add(lines, "value", type, value.Name, "-",
                        Describe.Literal(Convert.ChangeType(value.GetRawConstantValue(),
                                                            Enum.GetUnderlyingType(type))));
                return;
            }
            if (typeof(Delegate).IsAssignableFrom(type))
                return;
            foreach (ConstructorInfo ctor in type.GetConstructors(Declared).Where(Visible))
                if (!ctor.IsStatic && !(type.IsValueType && ctor.GetParameters().Length == 0))
                    Add(lines, "ctor", type, ".ctor", "instance",
                        Access(ctor) + Describe.Parameters(ctor.GetParameters()) + Describe.Obsolete(ctor));
            foreach (MethodInfo method in type.GetMethods(Declared).Where(Visible))
            {
                // Accessors are their property's or event's; operators stay, as a
                // conversion makes an overload a candidate.
                if (method.IsSpecialName && !method.Name.StartsWith("op_", StringComparison.Ordinal))
                    continue;
                string constraints;
                string generics = Describe.GenericParameters(method, out constraints);
                Add(lines, "method", type, method.Name + generics, Scope(method),
                    Access(method) + Describe.TypeName(method.ReturnType) + " " +
                        Describe.Parameters(method.GetParameters()) + constraints + Describe.Obsolete(method));
            }
            foreach (PropertyInfo property in type.GetProperties(Declared))
            {
                MethodInfo get = property.GetGetMethod(true);
                MethodInfo set = property.GetSetMethod(true);
                MethodInfo any = Visible(get) ? get : set;
                if (!Visible(any))
                    continue;
                var accessors = new StringBuilder(" {");
                if (Visible(get))
                    accessors.Append(get.IsPublic ? " get;" : " protected get;");
                if (Visible(set))
                    accessors.Append(set.IsPublic ? " set;" : " protected set;");
                accessors.Append(" }");
                ParameterInfo[] index = property.GetIndexParameters();
                Add(lines, "property", type, index.Length == 0 ? property.Name : "this", Scope(any),
                    Describe.TypeName(property.PropertyType) +
                        (index.Length == 0 ? "" : " " + Describe.Parameters(index).Replace('(', '[').Replace(')', ']')) +
                        accessors + Describe.Obsolete(property));
            }
            foreach (EventInfo e in type.GetEvents(Declared))
            {
                MethodInfo add = e.GetAddMethod(true);
                if (Visible(add))
                    Add(lines, "event", type, e.Name, Scope(add),
                        Access(add) + Describe.TypeName(e.EventHandlerType) + Describe.Obsolete(e));
            }
            foreach (FieldInfo field in type.GetFields(Declared))
            {
                if (!(field.IsPublic || field.IsFamily || field.IsFamilyOrAssembly))
                    continue;
                string access = field.IsPublic ? "" : "protected ";
                string signature = field.IsLiteral
                                       ? "const " + Describe.TypeName(field.FieldType) + " = " +
                                             Describe.Literal(field.GetRawConstantValue())
                                       : (field.IsInitOnly ? "readonly " : "") + Describe.TypeName(field.FieldType);
                Add(lines, "field", type, field.Name, field.IsStatic || field.IsLiteral ? "static" : "instance",
                    access + signature + Describe.Obsolete(field));
            }
        }

        private static string TypeSignature(Type type)
        {
            if (type.IsEnum)
                return "enum : " + Describe.TypeName(Enum.GetUnderlyingType(type));
            if (typeof(Delegate).IsAssignableFrom(type))
            {
                MethodInfo invoke = type.GetMethod("Invoke");
                return "delegate " + Describe.TypeName(invoke.ReturnType) + " " +
                       Describe.Parameters(invoke.GetParameters());
            }
            var text = new StringBuilder();
            if (type.IsInterface)
                text.Append("interface");
            else if (type.IsValueType)
                text.Append("struct");
            else if (type.IsAbstract && type.IsSealed)
                text.Append("static class");
            else
                text.Append(type.IsAbstract ? "abstract class" : type.IsSealed ? "sealed class" : "class");
            var bases = new List<string>();
            if (type.BaseType != null && type.BaseType != typeof(object) && type.BaseType != typeof(ValueType))
                bases.Add(Describe.TypeName(type.BaseType));
            // Only the interfaces declared here, not those a base brings.
            IEnumerable<Type> inherited = type.BaseType == null ? Enumerable.Empty<Type>() : type.BaseType.GetInterfaces();
            bases.AddRange(type.GetInterfaces().Except(inherited).Select(Describe.TypeName).OrderBy(n => n, StringComparer.Ordinal));
            if (bases.Count > 0)
                text.Append(" : ").Append(string.Join(", ", bases));
            if (typeof(Attribute).IsAssignableFrom(type))
            {
                var usage = (AttributeUsageAttribute)Attribute.GetCustomAttribute(type, typeof(AttributeUsageAttribute), true);
                AttributeTargets targets = usage == null ? AttributeTargets.All : usage.ValidOn;
                text.Append(" usage(").Append(targets.ToString().Replace(", ", "|"));
                if (usage != null && usage.AllowMultiple)
                    text.Append(", multiple");
                if (usage != null && !usage.Inherited)
                    text.Append(", not inherited");
                text.Append(')');
            }
            return text.ToString();
        }
    }

    public static class Comparison
    {
        // The failures, one paragraph each; none when the two agree.
        public static List<string> Differences(IList<ApiLine> record, IList<ApiLine> standIn, string version)
        {
            var expected = record.Where(l => l.HoldsFor(version)).ToList();
            var expectedKeys = new HashSet<string>(expected.Select(l => l.Key));
            var actualKeys = new HashSet<string>(standIn.Select(l => l.Key));
            var missing = expected.Where(l => !actualKeys.Contains(l.Key)).ToList();
            var extra = standIn.Where(l => !expectedKeys.Contains(l.Key)).ToList();
            var failures = new List<string>();
            foreach (ApiLine line in record.Where(l => l.HoldsFor(version)).GroupBy(l => l.Key).Where(g => g.Count() > 1)
                                          .Select(g => g.Last()))
                failures.Add(string.Format("record line {0} repeats an earlier line for {1}: {2}", line.LineNumber,
                                           version, line.Name));
            foreach (ApiLine line in missing)
            {
                List<ApiLine> instead = extra.Where(x => x.Name == line.Name).ToList();
                if (instead.Count == 0)
                {
                    failures.Add(string.Format("the stand-in lacks {0}, which the engine {1} declares " +
                                               "(record line {2}, {3}):\n    {4} {5} {6}",
                                               line.Name, version, line.LineNumber, line.Source, line.Kind,
                                               line.Scope, line.Signature));
                    continue;
                }
                failures.Add(string.Format("the stand-in declares {0} differently from the engine {1} " +
                                           "(record line {2}, {3}):\n    engine:   {4} {5}\n{6}",
                                           line.Name, version, line.LineNumber, line.Source, line.Scope, line.Signature,
                                           string.Join("\n", instead.Select(x => "    stand-in: " + x.Scope + " " +
                                                                                   x.Signature))));
            }
            var explained = new HashSet<string>(missing.Select(l => l.Name));
            foreach (ApiLine line in extra.Where(x => !explained.Contains(x.Name)))
            {
                line.Versions = version;
                line.Source = "<file>@<tag>";
                failures.Add(string.Format("the record lacks {0}, which the stand-in for {1} declares. Look it up " +
                                           "in the engine's reference source; if the engine declares it so, add " +
                                           "this line to the record (versions \"all\" if both engine versions " +
                                           "declare it so, and the file and tag where you found it):\n{2}",
                                           line.Name, version, line.ToRecordLine()));
            }
            return failures;
        }
    }

    public static class Program
    {
        public static int Main(string[] args)
        {
            bool selfTest = args.Length > 0 && args[0] == "--self-test";
            if (args.Length > 0 && args[0] == "--print")
            {
                // The lines the stand-in implies, for a maintainer to check against the engine.
                foreach (ApiLine line in Surface.Of(args.Skip(1).Select(p => Assembly.LoadFrom(Path.GetFullPath(p)))))
                    Console.WriteLine(line.ToRecordLine());
                return 0;
            }
            string[] rest = selfTest ? args.Skip(1).ToArray() : args;
            if (rest.Length < 3)
            {
                Console.Error.WriteLine("usage: EngineApiCheck.exe [--self-test] <record> <engine-version> <assembly>...");
                return 2;
            }
            List<ApiLine> record = ApiLine.ReadRecord(rest[0]);
            string version = rest[1];
            List<ApiLine> standIn = Surface.Of(rest.Skip(2).Select(p => Assembly.LoadFrom(Path.GetFullPath(p))));
            if (selfTest && !SelfTest(record, standIn, version))
                return 1;
            List<string> failures = Comparison.Differences(record, standIn, version);
            foreach (string failure in failures)
                Console.Error.WriteLine(failure);
            if (failures.Count > 0)
            {
                Console.Error.WriteLine("{0} difference(s) between the stand-in and the record for {1}", failures.Count,
                                        version);
                return 1;
            }
            Console.WriteLine("stand-in matches the record for {0}: {1} lines", version, standIn.Count);
            return 0;
        }

        // Each doctored record must fail, and name the line it doctored.
        private static bool SelfTest(List<ApiLine> record, List<ApiLine> standIn, string version)
        {
            var cases = new List<KeyValuePair<string, Func<List<ApiLine>, ApiLine>>> {
                Doctor("a parameter type", "method", version, l => l.Signature = l.Signature.Replace("int ", "long ")),
                Doctor("static or instance", "method", version, l => l.Scope = l.Scope == "static" ? "instance" : "static"),
                Doctor("an enum value", "value", version, l => l.Signature = l.Signature + "0"),
                Doctor("property or method", "property", version, l => l.Kind = "method"),
                Doctor("a namespace", "type", version, l => l.Type = "Other." + l.Type),
                Doctor("a type's base", "type", version, l => l.Signature = l.Signature.Contains(" : ")
                                                                         ? l.Signature.Substring(0, l.Signature.IndexOf(" : "))
                                                                         : l.Signature + " : System.Exception"),
                new KeyValuePair<string, Func<List<ApiLine>, ApiLine>>("a line the stand-in lacks", r => {
                    var added = new ApiLine { Kind = "method", Type = "UnityEngine.Debug", Member = "Nothing",
                                              Scope = "static", Signature = "void ()", LineNumber = 999999 };
                    r.Add(added);
                    return added;
                }),
                new KeyValuePair<string, Func<List<ApiLine>, ApiLine>>("a line the record lacks", r => {
                    ApiLine removed = r.First(l => l.HoldsFor(version) && l.Kind == "event");
                    r.Remove(removed);
                    return removed;
                })
            };
            bool ok = true;
            foreach (var c in cases)
            {
                List<ApiLine> doctored = record.Select(l => l.Copy()).ToList();
                ApiLine changed = c.Value(doctored);
                List<string> failures = Comparison.Differences(doctored, standIn, version);
                bool named = failures.Any(f => f.Contains(changed.Name) || f.Contains("line " + changed.LineNumber));
                if (failures.Count == 0 || !named)
                {
                    Console.Error.WriteLine("self-test: a record with {0} changed ({1}) passed the check", c.Key,
                                            changed.Name);
                    ok = false;
                }
            }
            if (ok)
                Console.WriteLine("self-test: each of {0} doctored records fails the check for {1}", cases.Count, version);
            return ok;
        }

        private static KeyValuePair<string, Func<List<ApiLine>, ApiLine>> Doctor(string what, string kind,
                                                                                   string version,
                                                                                   Action<ApiLine> change)
        {
            return new KeyValuePair<string, Func<List<ApiLine>, ApiLine>>(what, r => {
                ApiLine line = r.First(l => l.HoldsFor(version) && l.Kind == kind &&
                                            (kind != "method" || l.Signature.Contains("int ")));
                change(line);
                return line;
            });
        }
    }
}
