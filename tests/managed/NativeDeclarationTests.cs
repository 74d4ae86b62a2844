using System;
using System.Collections.Generic;
using System.Reflection;
using System.Runtime.InteropServices;

namespace ZVAudio.Output.Tests
{
    public static class NativeDeclarationTests
    {
        // Everything wrong with the P/Invoke declarations of `type`: each must be
        // Cdecl with ExactSpelling, and each bool result must be marshalled as one byte.
        public static List<string> DeclarationProblems(Type type)
        {
            var problems = new List<string>();
            foreach (MethodInfo method in type.GetMethods(BindingFlags.Static | BindingFlags.Public |
                                                          BindingFlags.NonPublic))
            {
                var import = (DllImportAttribute)Attribute.GetCustomAttribute(
                    method, typeof(DllImportAttribute));
                if (import == null)
                    continue;
                if (import.CallingConvention != CallingConvention.Cdecl)
                    problems.Add(method.Name + ": not Cdecl");
                if (!import.ExactSpelling)
                    problems.Add(method.Name + ": no ExactSpelling");
                if (method.ReturnType == typeof(bool))
                {
                    object[] marshal = method.ReturnParameter.GetCustomAttributes(
                        typeof(MarshalAsAttribute), false);
                    if (marshal.Length != 1 ||
                        ((MarshalAsAttribute)marshal[0]).Value != UnmanagedType.U1)
                        problems.Add(method.Name + ": bool result not marshalled as U1");
                }
            }
            return problems;
        }

        // Never called: the checker above must find all four faults in it.
        private static class FaultyDeclarations
        {
            [DllImport("none", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            internal static extern bool WithoutMarshalAs();

            [DllImport("none", CallingConvention = CallingConvention.Cdecl, ExactSpelling = true)]
            [return: MarshalAs(UnmanagedType.I4)]
            internal static extern bool FourByteBool();

            [DllImport("none", CallingConvention = CallingConvention.StdCall, ExactSpelling = true)]
            internal static extern void WrongConvention();

            [DllImport("none", CallingConvention = CallingConvention.Cdecl)]
            internal static extern void InexactName();
        }

        [Test]
        public static void EveryExportIsCdeclExactAndOneByteBool()
        {
            List<string> problems = DeclarationProblems(typeof(ZVAudioOutputNative));
            problems.AddRange(DeclarationProblems(typeof(ZVAudioOutputNative.Optional)));
            Check.True(problems.Count == 0, string.Join("; ", problems.ToArray()));

            List<string> planted = DeclarationProblems(typeof(FaultyDeclarations));
            Check.Equal(4, planted.Count, "faults found in the faulty declarations");
        }

        [Test]
        public static void DeclaresExactlyTheEightScriptExportsWithTheirSignatures()
        {
            var expected = new Dictionary<string, Type[]>
            {
                { "CreateAudioOutput", new Type[0] },
                { "CreateOutputBuffer", new[] { typeof(uint), typeof(uint), typeof(uint), typeof(uint),
                                                typeof(uint), typeof(float), typeof(uint) } },
                { "DestroyAudioOutput", new Type[0] },
                { "OnUnityAudio", new[] { typeof(float[]), typeof(int) } },
                { "GetAudioOutputStats", new[] { typeof(ZVAudioOutputStats).MakeByRefType() } },
                { "SetAudioOutputLatencyTarget", new[] { typeof(uint) } },
                { "GetAudioOutputLatencyStats", new[] { typeof(ZVAudioOutputLatencyStats).MakeByRefType() } },
                { "GetAudioOutputLatencyLimits", new[] { typeof(ZVAudioOutputLatencyLimits).MakeByRefType(),
                                                         typeof(uint) } },
            };
            var optional = new HashSet<string> { "GetAudioOutputLatencyLimits" };
            int declared = 0;
            var methods = new List<MethodInfo>();
            foreach (Type type in new[] { typeof(ZVAudioOutputNative), typeof(ZVAudioOutputNative.Optional) })
                methods.AddRange(type.GetMethods(BindingFlags.Static | BindingFlags.NonPublic | BindingFlags.Public));
            foreach (MethodInfo method in methods)
            {
                var import = (DllImportAttribute)Attribute.GetCustomAttribute(
                    method, typeof(DllImportAttribute));
                if (import == null)
                    continue;
                ++declared;
                Type[] parameters;
                Check.True(expected.TryGetValue(method.Name, out parameters),
                           "unexpected import " + method.Name);
                Check.Equal("ZVAudioOutput", import.Value, method.Name + " library");
                Check.Equal(method.Name, import.EntryPoint, method.Name + " entry point");
                ParameterInfo[] actual = method.GetParameters();
                Check.Equal(parameters.Length, actual.Length, method.Name + " parameter count");
                for (int i = 0; i < actual.Length; ++i)
                    Check.Equal(parameters[i], actual[i].ParameterType,
                                method.Name + " parameter " + i);
                Check.Equal(typeof(bool), method.ReturnType, method.Name + " result");
                // Bind's Prelink covers the required ones only, so that an older library binds.
                Check.Equal(optional.Contains(method.Name), method.DeclaringType == typeof(ZVAudioOutputNative.Optional),
                            method.Name + " is optional");
            }
            Check.Equal(expected.Count, declared, "imports declared");
        }

        [Test]
        public static void RecordsMatchTheNativeLayout()
        {
            var records = new[]
            {
                new { Type = typeof(ZVAudioOutputStats), Size = 72, Fields = new[] {
                    "samplesQueued", "samplesDropped", "samplesDelivered", "silenceSamples", "buffersFilled",
                    "requestsDeferred", "queuedSamples", "ringCapacity", "samplesWithoutStream" } },
                new { Type = typeof(ZVAudioOutputLatencyStats), Size = 64, Fields = new[] {
                    "targetMilliseconds", "targetSamples", "depthMilliseconds:double", "correctionPpm:double",
                    "hostSamples", "ringSamples", "samplesRemoved", "samplesInserted" } },
                new { Type = typeof(ZVAudioOutputLatencyLimits), Size = 72, Fields = new[] {
                    "recordSize", "limitedByRing", "neededSamples", "limitSamples", "neededMilliseconds:double",
                    "limitMilliseconds:double", "ringSamples", "fittingRingSamples", "fittingRingSeconds" } },
            };
            foreach (var record in records)
            {
                string name = record.Type.Name;
                Check.Equal(record.Size, Marshal.SizeOf(record.Type), "size of " + name);
                Check.True(record.Type.IsLayoutSequential, name + " is sequential");
                FieldInfo[] fields = record.Type.GetFields(BindingFlags.Instance | BindingFlags.Public |
                                                           BindingFlags.NonPublic);
                Check.Equal(record.Fields.Length, fields.Length, name + " field count");
                for (int i = 0; i < record.Fields.Length; ++i)
                {
                    string[] field = record.Fields[i].Split(':');
                    Type expected = field.Length > 1 ? typeof(double) : typeof(ulong);
                    Check.Equal(expected, record.Type.GetField(field[0]).FieldType, name + "." + field[0] + " type");
                    Check.Equal(8L * i, Marshal.OffsetOf(record.Type, field[0]).ToInt64(),
                                name + "." + field[0] + " offset");
                }
            }
        }

        // Builds of the package for the engine (tests/managed/compile_package.sh,
        // its folder in ZV_PACKAGE_BUILD): the Windows players, Mono and IL2CPP,
        // bind every export a script calls, a player of another platform none, so
        // its link never looks for the library.
        [Test]
        public static void OnlyTheWindowsBuildsCarryNativeCalls()
        {
            string folder = Environment.GetEnvironmentVariable("ZV_PACKAGE_BUILD");
            Check.True(!string.IsNullOrEmpty(folder), "ZV_PACKAGE_BUILD names the compiled package");
            // The plug-in's eight calls, and kernel32's three for the platform DLLs' preload.
            var builds = new[] { new { File = "ZVAudio.Output.WindowsPlayer.dll", Imports = "ZVAudioOutput:8 kernel32:3",
                                       Supported = true },
                                 new { File = "ZVAudio.Output.WindowsIL2CPP.dll", Imports = "ZVAudioOutput:8 kernel32:3",
                                       Supported = true },
                                 new { File = "ZVAudio.Output.OtherPlayer.dll", Imports = "", Supported = false } };
            foreach (var build in builds)
            {
                Assembly assembly = Assembly.LoadFrom(System.IO.Path.GetFullPath(
                    System.IO.Path.Combine(folder, build.File)));
                var imports = new SortedDictionary<string, int>(StringComparer.Ordinal);
                foreach (Type type in assembly.GetTypes())
                    foreach (MethodInfo method in type.GetMethods(BindingFlags.Static | BindingFlags.Instance |
                                                                  BindingFlags.Public | BindingFlags.NonPublic |
                                                                  BindingFlags.DeclaredOnly))
                        if ((method.Attributes & MethodAttributes.PinvokeImpl) != 0)
                        {
                            var import = (DllImportAttribute)Attribute.GetCustomAttribute(
                                method, typeof(DllImportAttribute));
                            int count;
                            imports.TryGetValue(import.Value, out count);
                            imports[import.Value] = count + 1;
                        }
                var counted = new List<string>();
                foreach (KeyValuePair<string, int> library in imports)
                    counted.Add(library.Key + ":" + library.Value);
                Check.Equal(build.Imports, string.Join(" ", counted.ToArray()), "native calls in " + build.File);
                FieldInfo supported = assembly.GetType("ZVAudio.Output.ZVAudioOutputNative")
                                          .GetField("IsSupported", BindingFlags.Static | BindingFlags.NonPublic);
                Check.Equal(build.Supported, (bool)supported.GetValue(null), "IsSupported in " + build.File);
            }
        }

        [Test]
        public static void BindingFindsAMissingEntryPointOrLibraryAtOnce()
        {
            ZVAudioOutputNative.Bind();
            Check.True(ZVAudioOutputNative.HasLatencyLimits, "this library has the optional export");
            // An older library lacks it: found missing, not thrown.
            Check.False(ZVAudioOutputNative.Finds(() => ZVAudioOutputNative.Prelink(typeof(MissingEntryPoint))),
                        "an optional export the library lacks");
            Check.Throws<EntryPointNotFoundException>(
                () => ZVAudioOutputNative.Prelink(typeof(MissingEntryPoint)), "missing entry point");
            Check.Throws<DllNotFoundException>(() => ZVAudioOutputNative.Prelink(typeof(MissingLibrary)),
                                               "missing library");
        }

        // Stands in for an older plug-in that lacks an export.
        internal static class MissingEntryPoint
        {
            [DllImport(ZVAudioOutputNative.LibraryName, ExactSpelling = true)]
            internal static extern void NoSuchExport();
        }

        private static class MissingLibrary
        {
            [DllImport("ZVAudioOutputThatIsNotThere", ExactSpelling = true)]
            internal static extern void CreateAudioOutput();
        }
    }
}
