-- Tables the tool reads and writes, as the business system declares them.
CREATE TABLE IF NOT EXISTS clifor (
    Filial smallint NOT NULL,
    Cod_Clifor integer NOT NULL,
    Sistema char(1),
    NOME varchar(40),
    CGC varchar(14),
    PRIMARY KEY (Filial, Cod_Clifor)
);

CREATE TABLE IF NOT EXISTS CliforDeveZozuvor (
    Filial integer NOT NULL,
    Cod_Clifor integer NOT NULL,
    DataCons date,
    HoraCons time,
    ResultCons bytea
);

CREATE INDEX IF NOT EXISTS CliforDeveZozuvor_cliente ON CliforDeveZozuvor (Filial, Cod_Clifor);

CREATE TABLE IF NOT EXISTS ParametrosEmpresa (
    filial integer NOT NULL,
    NomeParametro varchar(60) NOT NULL,
    ValorStr varchar(255)
);

CREATE INDEX IF NOT EXISTS ParametrosEmpresa_nome ON ParametrosEmpresa (filial, NomeParametro);
