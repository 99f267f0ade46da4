// Times the peer generator's default tree in this process: a few warm-up builds, then twenty
// timed ones by the process's own CPU time (process.cpuUsage: user and system), as the other
// side is timed. Prints one JSON line: {"triangles": N, "ms": CPU ms per tree, "runs": n}.
//
// The library loads its bark and leaf textures when its module is imported, which asks the page
// for image elements; node has no page, so a stand-in `document` hands out inert ones.
const inert = () => ({
  style: {},
  addEventListener() {},
  removeEventListener() {},
  setAttribute() {},
  getContext: () => null,
});
globalThis.document = { createElementNS: inert, createElement: inert };
globalThis.window = globalThis;
globalThis.self = globalThis;

const { Tree } = await import('@dgreenheck/ez-tree');

const warmups = Number(process.env.PEER_WARMUPS ?? 5);
const runs = Number(process.env.PEER_RUNS ?? 20);

function triangles(tree) {
  let count = 0;
  tree.traverse((object) => {
    const geometry = object.geometry;
    if (!geometry) return;
    count += geometry.index ? geometry.index.count / 3 : geometry.attributes.position.count / 3;
  });
  return count;
}

const tree = new Tree();
for (let i = 0; i < warmups; i++) tree.generate();
const before = process.cpuUsage();
for (let i = 0; i < runs; i++) tree.generate();
const used = process.cpuUsage(before);
const ms = (used.user + used.system) / 1000 / runs;
console.log(JSON.stringify({ triangles: triangles(tree), ms, runs }));
