export function main(argv: string[]) {
  run(argv);
}
