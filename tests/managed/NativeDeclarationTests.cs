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
            Check.True(problems.Count == 0, string.Join("; ", problems.ToArray()));

            List<string> planted = DeclarationProblems(typeof(FaultyDeclarations));
            Check.Equal(4, planted.Count, "faults found in the faulty declarations");
        }

        [Test]
        public static void DeclaresExactlyTheSevenExportsWithTheirSignatures()
        {
            var expected = new Dictionary<string, Type[]>
            {
                { "CreateAudioOutput", new Type[0] },
                { "CreateOutputBuffer", new[] { typeof(uint), typeof(uint), typeof(uint), typeof(uint),
                                                typeof(uint), typeof(float), typeof(uint) } },
                { "DestroyAudioOutput", new Type[0] },
                { "OnUnityAudio", new[] { typeof(float[]), typeof(int) } },
                { "UnityPluginLoad", new[] { typeof(IntPtr) } },
                { "UnityPluginUnload", new Type[0] },
                { "GetAudioOutputStats", new[] { typeof(ZVAudioOutputStats).MakeByRefType() } },
            };
            int declared = 0;
            foreach (MethodInfo method in typeof(ZVAudioOutputNative).GetMethods(
                         BindingFlags.Static | BindingFlags.NonPublic | BindingFlags.Public))
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
                bool returnsBool = method.Name != "UnityPluginLoad" && method.Name != "UnityPluginUnload";
                Check.Equal(returnsBool ? typeof(bool) : typeof(void), method.ReturnType,
                            method.Name + " result");
            }
            Check.Equal(expected.Count, declared, "imports declared");
        }

        [Test]
        public static void StatisticsRecordMatchesTheNativeLayout()
        {
            string[] order = { "samplesQueued", "samplesDropped", "samplesDelivered", "silenceSamples",
                               "buffersFilled", "requestsDeferred", "queuedSamples", "ringCapacity",
                               "samplesWithoutStream" };
            Check.Equal(72, Marshal.SizeOf(typeof(ZVAudioOutputStats)), "size of the record");
            FieldInfo[] fields = typeof(ZVAudioOutputStats).GetFields(BindingFlags.Instance |
                                                                       BindingFlags.Public |
                                                                       BindingFlags.NonPublic);
            Check.Equal(order.Length, fields.Length, "field count");
            for (int i = 0; i < order.Length; ++i)
            {
                Check.Equal(typeof(ulong), typeof(ZVAudioOutputStats).GetField(order[i]).FieldType,
                            order[i] + " type");
                Check.Equal(8L * i, Marshal.OffsetOf(typeof(ZVAudioOutputStats), order[i]).ToInt64(),
                            order[i] + " offset");
            }
        }
    }
}
